#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: discover
short_description: List the XPorts that answer in an address range at one site
version_added: 1.0.0
description:
  - Runs C(DERURUZUD-cli --discover RANGE --json -) on the target host and returns the
    XPorts that answered, with their MAC, the device's TCP port and whether an update will
    have to change the XPort's settings.
  - It only reads - an info query to every address and a setup-record query to each XPort
    that answered, never a set request and no TCP connection - so it never reports a
    change, and runs the same in check mode.
  - A /24 takes about 0.5 s of queries and then a 2 s wait for late replies.
author:
  - DERURUZUD developers (@deruruzud)
options:
  range:
    description:
      - An IPv4 CIDR such as C(192.168.10.0/24) (at most /20), one address, or
        C(broadcast) (the limited broadcast 255.255.255.255).
    type: str
    required: true
  bind:
    description:
      - The local IPv4 address the program's UDP port 10001 is bound to (C(--bind)).
    type: str
  cli:
    description:
      - The program to run, a path or a name looked up on C(PATH).
      - Default, C(DERURUZUD-cli) on C(PATH).
    type: path
notes:
  - Exit status 1 (UDP port 10001 taken, or the report could not be written) and 2 (a
    range that does not parse, is wider than /20 or holds no device address) fail the
    host with the program's message. No answer at all is not a failure - I(devices) is
    then empty.
seealso:
  - module: deruruzud.firmware.update
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
attributes:
  check_mode:
    support: full
    details: The same run; it only reads.
  diff_mode:
    support: none
  platform:
    platforms: posix
'''

EXAMPLES = r'''
- name: Find the XPorts on the plant LAN
  deruruzud.firmware.discover:
    range: 192.168.10.0/24
    bind: 192.168.10.5
  register: found

- name: Update every XPort that was found
  deruruzud.firmware.update:
    devices: "{{ found.devices | map(attribute='address') | list }}"
    data_file: /srv/firmware/quivo.HEX
    bind: 192.168.10.5
'''

RETURN = r'''
devices:
  description:
    - The XPorts that answered, in address order, as C(--discover --json) lists them.
    - C(port) and C(needs_override) are null when the XPort answered the info query but
      not the record query.
  returned: when the scan ran
  type: list
  elements: dict
  sample:
    - address: 192.168.10.20
      mac: 00-20-4A-0B-4C-0E
      port: 10003
      needs_override: false
rc:
  description: The program's exit status.
  returned: when the program ran
  type: int
cmd:
  description: The command line that was run.
  returned: when the program ran
  type: list
  elements: str
stderr_lines:
  description: The program's standard error - the table of XPorts and its messages.
  returned: when the program ran
  type: list
  elements: str
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.deruruzud.firmware.plugins.module_utils.cli import (
    EXIT_OK, EXIT_USAGE, describe_status, find_cli, run_json, stderr_tail)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            range=dict(type='str', required=True),
            bind=dict(type='str'),
            cli=dict(type='path'),
        ),
        supports_check_mode=True,
    )
    argv = [find_cli(module), '--discover', module.params['range'], '--json', '-']
    if module.params['bind'] is not None:
        argv += ['--bind', module.params['bind']]
    rc, report, stderr_lines, stdout = run_json(module, argv)

    result = dict(changed=False, rc=rc, cmd=argv, stderr_lines=stderr_lines)
    if rc == EXIT_USAGE:
        module.fail_json(msg='DERURUZUD-cli refused the range or an option (exit 2, nothing'
                         ' was sent): %s' % stderr_tail(stderr_lines), **result)
    if rc != EXIT_OK:
        module.fail_json(msg='DERURUZUD-cli --discover %s: %s'
                         % (describe_status(rc), stderr_tail(stderr_lines)), **result)
    if report is None:
        module.fail_json(msg='DERURUZUD-cli --discover wrote no JSON report on standard'
                         ' output (it began: %r)' % stdout[:120], **result)
    result['devices'] = report['devices']
    module.exit_json(**result)


if __name__ == '__main__':
    main()
