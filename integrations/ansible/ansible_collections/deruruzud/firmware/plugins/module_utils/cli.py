# -*- coding: utf-8 -*-
# Running DERURUZUD-cli with its JSON report on standard output, for both modules.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json
import os

CLI_NAME = 'DERURUZUD-cli'

# Exit statuses DERURUZUD-cli documents.
EXIT_OK = 0
EXIT_FAILED = 1
EXIT_USAGE = 2
EXIT_INTERRUPTED = 130


def find_cli(module):
    """The program to run: the cli parameter (a path, or a name looked up on PATH), or
    DERURUZUD-cli on PATH. Fails the module when there is none."""
    cli = module.params.get('cli')
    if not cli:
        return module.get_bin_path(CLI_NAME, required=True)
    if os.sep not in cli:
        return module.get_bin_path(cli, required=True)
    if not os.path.isfile(cli) or not os.access(cli, os.X_OK):
        module.fail_json(msg='%s is not an executable file (the cli parameter)' % cli)
    return cli


def describe_status(rc):
    """An exit status in words; run_command gives -N for a program killed by signal N."""
    if rc < 0:
        return 'was killed by signal %d' % -rc
    return 'ended with exit status %d' % rc


def stderr_tail(stderr_lines, count=5):
    """The last lines of standard error, for a failure message."""
    lines = [line for line in stderr_lines if line.strip()]
    return ' | '.join(lines[-count:])


def run_json(module, argv):
    """Runs argv (which writes its report with --json -) and returns
    (rc, report, stderr_lines, stdout). report is the parsed top-level object, or None when
    standard output held no JSON object; in that case the caller decides how to fail,
    since the exit status says more about why than the missing report does."""
    # No input is needed: --yes answers the one question, and a notice waits for Enter
    # only on a terminal.
    rc, stdout, stderr = module.run_command(argv)
    stderr_lines = stderr.splitlines()
    report = None
    if stdout.strip():
        try:
            parsed = json.loads(stdout)
        except ValueError:
            parsed = None
        if isinstance(parsed, dict) and isinstance(parsed.get('devices'), list):
            report = parsed
    return rc, report, stderr_lines, stdout
