#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: update
short_description: Rewrite the firmware of the devices behind XPorts at one site
version_added: 1.0.0
description:
  - Runs C(DERURUZUD-cli) on the target host (the site's PC, on the plant LAN) against a
    list of devices, one batch with one answer, and returns the program's JSON report.
  - Always runs with C(--yes) (the one question of the batch is answered Yes) and
    C(--json -) (the report on standard output); every other option is passed only when
    its parameter is set.
  - Every device runs its own update, with its own XPort settings change and restore
    where needed; a failing device never stops another.
  - The host fails when C(DERURUZUD-cli) exits with any status but 0, that is when any
    device does not end at the data file's version or an XPort is left with changed
    settings. The failed devices' addresses, results and reasons are in I(msg), and the
    whole report is returned as on success, so a playbook can still save it.
  - In check mode the program runs with C(--dry-run) - every device is identified and
    sorted by the version policy, gets its leave command, and nothing is written.
author:
  - DERURUZUD developers (@deruruzud)
options:
  devices:
    description:
      - The devices to update, each C(ADDRESS) or C(ADDRESS:PORT) (dotted decimal IPv4).
      - A device without a port is reached on its XPort's own LocalPort.
      - Each becomes one C(--address) option.
    type: list
    elements: str
  devices_file:
    description:
      - A file on the target host with one C(ADDRESS[:PORT]) per line (blank lines and
        C(#) comments are ignored), passed as C(--devices).
    type: path
  data_file:
    description:
      - The Intel HEX data file on the target host (C(--data-file)).
      - Without it the program looks for C(quivo.HEX) beside itself, then in
        C($XDG_DATA_HOME/DERURUZUD/).
    type: path
  jobs:
    description:
      - How many devices talk to the program at once (C(--jobs)); default, all (at most 64).
    type: int
  bind:
    description:
      - The local IPv4 address the program's UDP port 10001 and its TCP connections are
        bound to (C(--bind)).
      - Chooses the network card on a PC with two, and lets several runs share one host,
        each on its own address.
    type: str
  lang:
    description:
      - The language of the program's texts, the reasons in the report included (C(--lang)).
      - Without it the program follows the target's locale, Japanese for C and POSIX.
    type: str
    choices: [en, ja]
  canary:
    description:
      - Write these many devices first (C(--canary)); the others start only when all of
        them are updated, and are C(not_started) otherwise.
    type: int
  max_failures:
    description:
      - Once this many devices have failed while writing, no further device starts
        (C(--max-failures)).
    type: int
  reinstall:
    description:
      - Write devices that already hold the data file's version (C(--reinstall)).
    type: bool
    default: false
  allow_older:
    description:
      - Write devices that hold a newer version than the data file (C(--allow-older)).
    type: bool
    default: false
  require_signature:
    description:
      - Refuse a data file without a good signature by a trusted key
        (C(--require-signature)).
    type: bool
    default: false
  cli:
    description:
      - The program to run, a path or a name looked up on C(PATH).
      - Default, C(DERURUZUD-cli) on C(PATH).
    type: path
notes:
  - Each run appends to the program's history in the target user's state folder, and a
    saved XPort record stays there when an XPort could not be restored; the report's
    C(saved_record) names it for C(DERURUZUD-cli --restore-xport).
  - Only one program per address can own UDP port 10001. Runs that share a host need a
    I(bind) address each.
  - The program's exit status, and what the module does with it - 0, success, C(changed)
    when any device was updated (in check mode, would be); 1, the host fails with the
    devices that did not end at the data file's version; 2, the host fails with the
    program's usage message (nothing was sent); 130, the host fails as interrupted, after
    every device ran its clean-up.
seealso:
  - module: deruruzud.firmware.discover
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
attributes:
  check_mode:
    support: full
    details: Runs the program with C(--dry-run); nothing is written to any device.
  diff_mode:
    support: none
  platform:
    platforms: posix
'''

EXAMPLES = r'''
- name: Update the cabinet of this site
  deruruzud.firmware.update:
    devices:
      - 192.168.10.20
      - 192.168.10.21:10003
    data_file: /srv/firmware/quivo.HEX
    bind: 192.168.10.5
    lang: en
  register: site_update

- name: A cautious rollout - one device first, stop after two failures
  deruruzud.firmware.update:
    devices_file: /srv/firmware/cabinet-3.txt
    data_file: /srv/firmware/quivo.HEX
    jobs: 8
    canary: 1
    max_failures: 2
    require_signature: true

- name: What would be written (check mode, C(--dry-run))
  deruruzud.firmware.update:
    devices: [192.168.10.20, 192.168.10.21]
    data_file: /srv/firmware/quivo.HEX
  check_mode: true
  register: plan
'''

RETURN = r'''
devices:
  description:
    - The report's list of devices, unchanged, one object per device in target order.
    - Each has C(address), C(port), C(mac), C(model), C(version_before), C(version_after),
      C(result), C(reason), C(reason_code), C(reason_args), C(interrupted), C(notices),
      C(xport_overridden), C(xport_restored), C(saved_record) and C(seconds), as the
      program's README describes them.
    - C(result) is one of C(updated), C(failed), C(declined), C(interrupted), C(skipped),
      C(refused), C(not_started), and in check mode C(would_update).
  returned: when the program wrote its report
  type: list
  elements: dict
  sample:
    - address: 192.168.10.20
      port: 10003
      mac: 00-20-4A-0B-4C-0E
      model: KT-40D(-W)
      version_before: 199
      version_after: 200
      result: updated
      reason: null
      interrupted: false
      notices: [{caption: DERURUZUD, text: "Write complete.\n"}]
      xport_overridden: false
      xport_restored: false
      saved_record: null
      seconds: 6.17
program_version:
  description: The program's version, from the report.
  returned: when the program wrote its report
  type: str
  sample: 1.0.2.0
data_file:
  description:
    - The data file the run used, from the report - C(path), C(sha256), C(version),
      C(checksum_errors), and C(signature) (null when unsigned, else the key id and the
      trusted comment).
    - Every other top-level field of the report is returned under its own name too.
  returned: when the report holds it
  type: dict
summary:
  description: How many devices ended with each result.
  returned: when the program wrote its report
  type: dict
  sample: {updated: 2, failed: 1}
rc:
  description: The program's exit status.
  returned: when the program ran
  type: int
  sample: 1
cmd:
  description: The command line that was run.
  returned: when the program ran
  type: list
  elements: str
stderr_lines:
  description: The program's standard error - its milestone lines, notices and summary.
  returned: when the program ran
  type: list
  elements: str
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.deruruzud.firmware.plugins.module_utils.cli import (
    EXIT_FAILED, EXIT_INTERRUPTED, EXIT_OK, EXIT_USAGE, describe_status, find_cli, run_json,
    stderr_tail)

# Results that leave a device at the data file's version.
GOOD_RESULTS = ('updated', 'skipped')
# What a dry run reports for a device it would write.
WOULD_UPDATE = 'would_update'

# Result keys a report field must not take: this module's own, and those Ansible reads.
RESERVED = ('changed', 'failed', 'msg', 'rc', 'cmd', 'stderr_lines', 'summary', 'devices',
            'skipped', 'warnings', 'deprecations', 'invocation', 'exception', 'ansible_facts')


def build_argv(cli, params, check_mode):
    argv = [cli, '--yes', '--json', '-']
    if params['devices'] is not None:
        for device in params['devices']:
            argv += ['--address', device]
    else:
        argv += ['--devices', params['devices_file']]
    for name, option in (('data_file', '--data-file'), ('jobs', '--jobs'),
                         ('bind', '--bind'), ('lang', '--lang'),
                         ('canary', '--canary'), ('max_failures', '--max-failures')):
        if params[name] is not None:
            argv += [option, str(params[name])]
    for name, option in (('reinstall', '--reinstall'), ('allow_older', '--allow-older'),
                         ('require_signature', '--require-signature')):
        if params[name]:
            argv.append(option)
    if check_mode:
        argv.append('--dry-run')
    return argv


def device_trouble(device, check_mode):
    """Why a device counts against the run, or None when it does not."""
    good = GOOD_RESULTS + ((WOULD_UPDATE,) if check_mode else ())
    result = device.get('result')
    reason = device.get('reason')
    code = device.get('reason_code')
    parts = []
    if result not in good:
        text = '%s' % result
        # An interrupted device's reason and code only repeat its result.
        if reason and reason.strip() != result:
            text += ': %s' % reason.strip()
        if code and code != result:
            text += ' [%s]' % code
        parts.append(text)
    if device.get('xport_overridden') and not device.get('xport_restored'):
        saved = device.get('saved_record')
        parts.append('XPort settings left changed' +
                     (' (saved record %s)' % saved if saved else ''))
    if not parts:
        return None
    where = device.get('address') or '?'
    if device.get('port'):
        where += ':%s' % device['port']
    return '%s %s' % (where, '; '.join(parts))


def main():
    module = AnsibleModule(
        argument_spec=dict(
            devices=dict(type='list', elements='str'),
            devices_file=dict(type='path'),
            data_file=dict(type='path'),
            jobs=dict(type='int'),
            bind=dict(type='str'),
            lang=dict(type='str', choices=['en', 'ja']),
            canary=dict(type='int'),
            max_failures=dict(type='int'),
            reinstall=dict(type='bool', default=False),
            allow_older=dict(type='bool', default=False),
            require_signature=dict(type='bool', default=False),
            cli=dict(type='path'),
        ),
        mutually_exclusive=[('devices', 'devices_file')],
        required_one_of=[('devices', 'devices_file')],
        supports_check_mode=True,
    )
    params = module.params
    if params['devices'] is not None and not params['devices']:
        module.fail_json(msg='devices is empty: name at least one ADDRESS[:PORT]')

    argv = build_argv(find_cli(module), params, module.check_mode)
    rc, report, stderr_lines, stdout = run_json(module, argv)

    result = dict(changed=False, rc=rc, cmd=argv, stderr_lines=stderr_lines)
    if report is not None:
        for key, value in report.items():
            if key not in RESERVED and not key.startswith(('_', 'ansible_')):
                result[key] = value
        devices = report['devices']
        result['devices'] = devices
        summary = {}
        for device in devices:
            summary[device.get('result')] = summary.get(device.get('result'), 0) + 1
        result['summary'] = summary
        changed_result = WOULD_UPDATE if module.check_mode else 'updated'
        result['changed'] = any(d.get('result') == changed_result for d in devices)

    if rc == EXIT_USAGE:
        module.fail_json(msg='DERURUZUD-cli refused its arguments (exit 2, nothing was sent): %s'
                         % stderr_tail(stderr_lines), **result)
    if report is None:
        module.fail_json(msg='DERURUZUD-cli %s and wrote no JSON report on standard output'
                         ' (it began: %r); last lines of standard error: %s'
                         % (describe_status(rc), stdout[:120], stderr_tail(stderr_lines)),
                         **result)
    if rc == EXIT_OK:
        module.exit_json(**result)

    troubles = [t for t in (device_trouble(d, module.check_mode) for d in report['devices']) if t]
    listing = '; '.join(troubles) if troubles else stderr_tail(stderr_lines)
    total = len(report['devices'])
    if rc == EXIT_FAILED:
        verb = 'would not end' if module.check_mode else 'did not end'
        msg = ('%d of %d devices %s at the data file\'s version (exit 1): %s'
               % (len(troubles), total, verb, listing))
    elif rc == EXIT_INTERRUPTED:
        msg = ('DERURUZUD-cli was interrupted (exit 130); every device ran its clean-up. '
               'Not at the data file\'s version: %s' % listing)
    else:
        msg = 'DERURUZUD-cli %s: %s' % (describe_status(rc), listing)
    module.fail_json(msg=msg, **result)


if __name__ == '__main__':
    main()
