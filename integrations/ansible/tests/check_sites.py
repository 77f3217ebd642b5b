"""Checks one run of the collection's playbooks by scripts/test-ansible: the reports it left
on the control node (merged.json, each site host's own file, discovered.json) and the
simulated devices' memory (quivo-sim --dump-hex, one file per pair).

  check_sites.py discover RUN_DIR
  check_sites.py dry-run RUN_DIR DUMP_DIR
  check_sites.py update RUN_DIR DUMP_DIR SITE,SITE...   (the sites that must have run)

SITES_JSON describes the sites: {"site_11": {"devices": [...], "data_file": PATH,
"version": N, "failing": [addresses]}, ...}."""
import glob
import hashlib
import json
import os
import sys

ERASED = 0x3FFF
VERSION_WORD = 0x300

sites = json.loads(os.environ['SITES_JSON'])
failures = []


def expect(ok, what):
    if not ok:
        failures.append(what)


def memory_words(path):
    """Program memory from a simulator's Intel HEX dump, as 8,192 words."""
    mem = bytearray(2 * 8192)
    base = 0
    with open(path) as f:
        for line in f:
            line = line.strip()
            if not line.startswith(':'):
                continue
            b = bytes.fromhex(line[1:])
            n, addr, kind = b[0], (b[1] << 8) | b[2], b[3]
            if kind == 0:
                for i in range(n):
                    if base + addr + i < len(mem):
                        mem[base + addr + i] = b[4 + i]
            elif kind == 4:
                base = ((b[4] << 8) | b[5]) << 16
    return [mem[2 * w] | (mem[2 * w + 1] << 8) for w in range(8192)]


def dumps(dump_dir, site):
    """{address: words} for every pair of the site's cabinet."""
    x = site.split('_')[1]
    found = {}
    for path in glob.glob(os.path.join(dump_dir, 'site%s-*.hex' % x)):
        address = os.path.basename(path)[len('site%s-' % x):-len('.hex')]
        found[address] = memory_words(path)
    expect(sorted(found) == sorted(sites[site]['devices']),
           '%s: memory dumps for %s, expected %s' % (site, sorted(found), sites[site]['devices']))
    return found


def merged(run_dir):
    with open(os.path.join(run_dir, 'merged.json')) as f:
        report = json.load(f)
    by_site = {s['site']: s for s in report['sites']}
    expect(len(by_site) == len(report['sites']), 'merged report names a site twice')
    for name, s in by_site.items():
        with open(os.path.join(run_dir, s['host'] + '.json')) as f:
            expect(json.load(f) == s, '%s: its own report differs from the merged one' % name)
        got = [d['address'] for d in s['devices']]
        expect(got == sites[name]['devices'],
               '%s: devices %s came back, expected %s' % (name, got, sites[name]['devices']))
        # Each site ran with its own data file.
        with open(sites[name]['data_file'], 'rb') as f:
            sha256 = hashlib.sha256(f.read()).hexdigest()
        data_file = s['data_file'] or {}
        expect(data_file.get('sha256') == sha256 and data_file.get('version') == sites[name]['version'],
               '%s: data_file %r, expected version %d, SHA-256 %s'
               % (name, data_file, sites[name]['version'], sha256))
    return report, by_site


def check_discover(run_dir):
    with open(os.path.join(run_dir, 'discovered.json')) as f:
        found = {s['site']: s for s in json.load(f)['sites']}
    expect(sorted(found) == sorted(sites), 'discovered sites %s' % sorted(found))
    for name, s in found.items():
        got = sorted(d['address'] for d in s['devices'])
        expect(got == sorted(sites[name]['devices']), '%s: discovered %s' % (name, got))
        expect(len({d['mac'] for d in s['devices']}) == len(got), '%s: MACs repeat' % name)
        expect(all(d['needs_override'] is False for d in s['devices']),
               '%s: needs_override %s' % (name, [d['needs_override'] for d in s['devices']]))
        expect(s['changed'] is False, '%s: discover changed %r' % (name, s['changed']))


def check_dry_run(run_dir, dump_dir):
    _, by_site = merged(run_dir)
    expect(sorted(by_site) == sorted(sites), 'check mode: sites %s' % sorted(by_site))
    for name, s in by_site.items():
        results = [d['result'] for d in s['devices']]
        expect(s['check_mode'] is True and s['failed'] is False and s['rc'] == 0,
               '%s: check mode failed=%r rc=%r msg=%r' % (name, s['failed'], s['rc'], s['msg']))
        expect(all(r == 'would_update' for r in results), '%s: dry-run results %s' % (name, results))
        expect(s['changed'] is True, '%s: check mode changed %r' % (name, s['changed']))
        for address, words in dumps(dump_dir, name).items():
            written = sum(1 for w in words if w != ERASED)
            expect(written == 0, '%s %s: check mode wrote %d words' % (name, address, written))


def check_update(run_dir, dump_dir, ran):
    report, by_site = merged(run_dir)
    got = [s['site'] for s in report['sites']]
    expect(sorted(got) == sorted(ran), 'sites that ran: %s, expected %s' % (got, ran))
    for name in ran:
        s = by_site.get(name)
        if s is None:
            continue
        failing = sites[name]['failing']
        version = sites[name]['version']
        for d in s['devices']:
            want = 'failed' if d['address'] in failing else 'updated'
            expect(d['result'] == want, '%s %s: %s (%s), expected %s'
                   % (name, d['address'], d['result'], d['reason'], want))
            expect((d['reason'] is not None) == (want == 'failed') and
                   (d['reason_code'] is not None) == (want == 'failed'),
                   '%s %s: reason %r, reason_code %r'
                   % (name, d['address'], d['reason'], d['reason_code']))
            expect(d['version_after'] == (0 if want == 'failed' else version),
                   '%s %s: version_after %r' % (name, d['address'], d['version_after']))
        expect(s['failed'] is bool(failing) and s['rc'] == (1 if failing else 0),
               '%s: failed=%r rc=%r' % (name, s['failed'], s['rc']))
        expect(s['changed'] is True, '%s: changed %r' % (name, s['changed']))
        if failing:
            for address in sites[name]['devices']:
                expect((address in (s['msg'] or '')) == (address in failing),
                       '%s: msg %r and %s' % (name, s['msg'], address))
        # What each device holds is what its report says.
        reported = {d['address']: d['version_after'] for d in s['devices']}
        for address, words in dumps(dump_dir, name).items():
            expect(words[VERSION_WORD] == reported.get(address),
                   '%s %s: memory holds version %d, report says %r'
                   % (name, address, words[VERSION_WORD], reported.get(address)))
    for name in sorted(set(sites) - set(ran)):
        expect(not os.path.exists(os.path.join(run_dir, name.replace('_', '') + '-pc.json')),
               '%s: a report exists for a site that must not run' % name)
        for address, words in dumps(dump_dir, name).items():
            written = sum(1 for w in words if w != ERASED)
            expect(written == 0, '%s %s: not to run, but %d words written' % (name, address, written))


what = sys.argv[1]
if what == 'discover':
    check_discover(sys.argv[2])
elif what == 'dry-run':
    check_dry_run(sys.argv[2], sys.argv[3])
else:
    check_update(sys.argv[2], sys.argv[3], sys.argv[4].split(','))
for f in failures:
    print('  FAIL ' + f)
print('%s: %s' % (what, 'FAILED' if failures else 'ok'))
sys.exit(1 if failures else 0)
