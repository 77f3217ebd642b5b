"""The update and discover modules against a stand-in DERURUZUD-cli that prints a given
report and exits with a given status: what each exit status becomes, and which options
each parameter passes. The real program is run by the playbooks above; this covers the
statuses it cannot be made to give on cue (130, output that is not JSON)."""
import json
import os
import subprocess
import sys
import tempfile

collections, work = sys.argv[1], sys.argv[2]
modules = os.path.join(collections, 'ansible_collections/deruruzud/firmware/plugins/modules')
fake = os.path.join(work, 'fake-cli')
with open(fake, 'w') as f:
    f.write('#!/bin/sh\nprintf "%s\\n" "$@" > "$FAKE_ARGV"\nprintf "%s" "$FAKE_OUT"\n'
            'echo "a line on stderr" >&2\nexit "$FAKE_RC"\n')
os.chmod(fake, 0o755)


def device(address, result, reason=None, **extra):
    d = dict(address=address, port=10003, result=result, reason=reason,
             xport_overridden=False, xport_restored=False, saved_record=None)
    d.update(extra)
    return d


def report(*devices, **top):
    r = dict(program_version='1.0.2.0', devices=list(devices))
    r.update(top)
    return json.dumps(r)


updated = device('10.0.0.1', 'updated')
failed = device('10.0.0.2', 'failed', 'Timed out', reason_code='timeout')
left = device('10.0.0.3', 'updated', xport_overridden=True, saved_record='/s/rec.setup')
would = device('10.0.0.1', 'would_update')
base = dict(devices=['10.0.0.1'], cli=fake)

# (name, module, params, check mode, rc, stdout,
#  failed, changed, words that msg must hold, words it must not, options that must appear,
#  each with its value)
CASES = [
    ('all updated', 'update', base, False, 0, report(updated, data_file={'sha256': 'ab'}),
     False, True, [], [], ['--yes', '--json -', '--address 10.0.0.1']),
    ('every option', 'update', dict(base, devices=['10.0.0.1', '10.0.0.2:10004'], data_file='/d/q.HEX',
                                    jobs=4, bind='10.0.0.9', lang='en', canary=1, max_failures=2,
                                    reinstall=True, allow_older=True, require_signature=True),
     False, 0, report(device('10.0.0.1', 'skipped')), False, False, [], [],
     ['--address 10.0.0.1 --address 10.0.0.2:10004', '--data-file /d/q.HEX', '--jobs 4',
      '--bind 10.0.0.9', '--lang en', '--canary 1', '--max-failures 2', '--reinstall',
      '--allow-older', '--require-signature']),
    ('devices file', 'update', dict(cli=fake, devices_file='/d/list.txt'), False, 0, report(updated),
     False, True, [], [], ['--devices /d/list.txt']),
    ('a failed device, an XPort left changed', 'update', base, False, 1, report(updated, failed, left),
     True, True, ['2 of 3', '10.0.0.2:10003 failed: Timed out [timeout]', '10.0.0.3', '/s/rec.setup'],
     ['10.0.0.1'], []),
    ('usage error', 'update', base, False, 2, '', True, False, ['exit 2', 'a line on stderr'], [], []),
    ('interrupted', 'update', base, False, 130,
     report(device('10.0.0.1', 'interrupted', interrupted=True)), True, False,
     ['interrupted', '10.0.0.1'], [], []),
    ('not JSON', 'update', base, False, 0, 'Segmentation fault', True, False,
     ['no JSON report', 'Segmentation fault'], [], []),
    ('check mode', 'update', base, True, 0, report(would), False, True, [], [], ['--dry-run']),
    ('check mode, nothing to write', 'update', base, True, 0, report(device('10.0.0.1', 'skipped')),
     False, False, [], [], ['--dry-run']),
    ('discover', 'discover', dict(cli=fake, range='10.0.0.0/24', bind='10.0.0.9'), True, 0,
     json.dumps({'devices': [{'address': '10.0.0.1'}]}), False, False, [], [],
     ['--discover 10.0.0.0/24', '--json -', '--bind 10.0.0.9']),
    ('discover, port taken', 'discover', dict(cli=fake, range='10.0.0.0/24'), False, 1, '',
     True, False, ['exit status 1', 'a line on stderr'], [], []),
]

# Each optional parameter of update and its option: passed only when the parameter is set.
OPTIONS = dict(data_file='--data-file', jobs='--jobs', bind='--bind', lang='--lang',
               canary='--canary', max_failures='--max-failures', reinstall='--reinstall',
               allow_older='--allow-older', require_signature='--require-signature')

bad = 0
for (name, module, params, check, rc, out, want_failed, want_changed, says, not_says,
     argv_has) in CASES:
    with tempfile.NamedTemporaryFile('w', suffix='.json', dir=work, delete=False) as f:
        json.dump({'ANSIBLE_MODULE_ARGS': dict(params, _ansible_check_mode=check)}, f)
    env = dict(os.environ, PYTHONPATH=collections, FAKE_OUT=out, FAKE_RC=str(rc),
               FAKE_ARGV=os.path.join(work, 'argv'))
    run = subprocess.run([sys.executable, os.path.join(modules, module + '.py'), f.name],
                         env=env, capture_output=True, text=True)
    result = json.loads(run.stdout)
    with open(os.path.join(work, 'argv')) as a:
        argv = a.read().split('\n')[:-1]
    msg = result.get('msg', '')
    problems = []
    if bool(result.get('failed')) != want_failed:
        problems.append('failed=%r' % result.get('failed'))
    if result.get('changed') != want_changed:
        problems.append('changed=%r' % result.get('changed'))
    problems += ['msg lacks %r' % w for w in says if w not in msg]
    problems += ['msg names %r' % w for w in not_says if w in msg]
    problems += ['argv %s lacks %r' % (argv, o) for o in argv_has
                 if ' %s ' % o not in ' %s ' % ' '.join(argv)]
    if module == 'update':
        problems += ['%s passed unasked' % o for p, o in OPTIONS.items()
                     if p not in params and o in argv]
    if module == 'update' and not check and '--dry-run' in argv:
        problems.append('--dry-run outside check mode')
    if rc in (0, 1, 130) and out.startswith('{') and result.get('devices') != json.loads(out)['devices']:
        problems.append('devices not returned unchanged')
    if problems:
        bad += 1
        print('  FAIL %s: %s (msg %r)' % (name, '; '.join(problems), msg))
print('module table: %s' % ('FAILED' if bad else 'ok (%d cases)' % len(CASES)))
sys.exit(1 if bad else 0)
