"""Write rate of a cluster of three servers on a three-member store, on one machine, against the
store's own write rate measured in the same run (not part of the test suite):

    /usr/bin/python3 bench/cluster/write_rate.py [--bin build/rel/bin] [--rounds 3] [--seconds 5]
                                                 [--connections 16] [--catch-up 5000]
                                                 [--ways stopped cut compacted]

- Rates, interleaved rounds: the store's own conditional puts (registration_bench --etcd), and
  registrations (open session, AddServiceProvider, AddServices with three services) as fast as
  the servers answer, through one server and spread over all three. The registry keeps every
  provider registered, so it grows from round to round (its size is printed).
- Propagation: a registration answered by server A until B and C list its services, at half of
  the rate A reached closed-loop and at the full closed-loop rate.
- Catch-up: server C is stopped, or (root) cut off from every store member by packet filters,
  while N registrations (2N changes) go through A and B, then a marker; the time from C's return
  (its start, or the cut's end) until C lists the marker, which comes after every other change
  in the store's order. "compacted": cut off, and the store's history compacted before the cut
  heals, so that C has to read the registry whole.
"""
import argparse
import itertools
import json
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', '..', 'tests', 'e2e'))

import cluster_store  # noqa: E402
import pictora_wire as w  # noqa: E402
from cluster_store import StoreCluster, iptables  # noqa: E402
from server_process import ServerProcess, address  # noqa: E402

SERVICES = ('Bench/S1', 'Bench/S2', 'Bench/S3')
# A chain and connection marks of our own: test suites running beside us remove theirs.
cluster_store.CHAIN, cluster_store.MARKS = 'PICTORA-BENCH-CUT', itertools.count(0xa0)


def server(store, group=None):
    # Registered providers' endpoints lead nowhere: the liveness pass is kept away from them.
    process = ServerProcess({'PICTORA_TEST_LIVENESS_SECONDS': '100000'})
    process.group = group
    store.join(process, '/bench/')
    process.write_services(*SERVICES)
    process.write_configuration('<CreateLogs>false</CreateLogs>')
    return process.start()


def bench(bin_dir, *words):
    out = subprocess.run([os.path.join(bin_dir, 'registration_bench')] + [str(x) for x in words],
                         capture_output=True, text=True, check=True)
    if out.stderr.strip():
        print('   ', out.stderr.strip().replace('\n', '\n    '))
    values = out.stdout.split()
    return {'rate': float(values[0]), 'changes': float(values[1]), 'p50': float(values[2]),
            'p99': float(values[3]), 'errors': int(values[4]), 'samples': int(values[5]),
            'prop50': float(values[6]), 'prop99': float(values[7])}


def load():
    return ' '.join(open('/proc/loadavg').read().split()[:3])


def compact(store):
    """Compacts the store's history up to its current revision."""
    env = dict(os.environ, ETCDCTL_API='3')
    read = subprocess.run(['etcdctl', '--endpoints', store.endpoints(), 'get', '--prefix', '/', '--keys-only',
                           '--limit', '1', '-w', 'json'], capture_output=True, text=True, check=True, env=env).stdout
    revision = json.loads(read)['header']['revision']
    subprocess.run(['etcdctl', '--endpoints', store.endpoints(), 'compact', str(revision)], capture_output=True,
                   check=True, env=env)


def wait_listed(target, provider, started, limit=300):
    dce = w.connect(target.port, timeout=30)
    sid = w.session(dce)
    while time.time() - started < limit:
        answer = w.call(dce, w.GetServices, Session=sid, Name=provider, Size=20000, ErrText='e')
        if answer['Result'] == 0 and SERVICES[-1] in w.buffer_text(answer):
            dce.disconnect()
            return time.time() - started
        time.sleep(0.01)
    raise AssertionError('%s never arrived' % provider)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--bin', default=None)
    parser.add_argument('--rounds', type=int, default=3)
    parser.add_argument('--seconds', type=float, default=5)
    parser.add_argument('--connections', type=int, default=16)
    parser.add_argument('--catch-up', type=int, default=5000, help='registrations made while C is away')
    parser.add_argument('--ways', nargs='+', default=['stopped'], choices=['stopped', 'cut', 'compacted'],
                        help='how C is away: stopped; cut off (root); cut off and the store compacted before the '
                        'cut heals')
    parser.add_argument('--parts', nargs='+', default=['rates', 'propagation', 'catch-up'],
                        choices=['rates', 'propagation', 'catch-up'])
    parser.add_argument('--verbose', action='store_true', help="C's cluster log lines after each catch-up")
    args = parser.parse_args()
    if args.bin:
        os.environ['PICTORA_BIN_DIR'] = os.path.abspath(args.bin)
    bin_dir = os.environ.get('PICTORA_BIN_DIR') or os.path.join(HERE, '..', '..', 'build', 'rel', 'bin')
    store = StoreCluster()
    servers = []
    try:
        for i in range(3):
            servers.append(server(store, 64220 + i if os.geteuid() == 0 else None))
        a, b, c = servers
        etcd = store.endpoints()
        print('%d cores, load average %s at start' % (os.cpu_count(), load()))
        n = args.connections
        registered = 0
        rows = []
        for round_ in range(args.rounds if 'rates' in args.parts or 'propagation' in args.parts else 0):
            row = {'etcd': bench(bin_dir, '--etcd', etcd, '--connections', n, '--seconds', args.seconds,
                                 '--name', 'r%d' % round_)}
            for kind, targets in (('one', [a]), ('three', servers)):
                row[kind] = bench(bin_dir, '--servers', ','.join(address(s) for s in targets), '--connections', n,
                                  '--seconds', args.seconds, '--name', '%s%d' % (kind, round_))
                registered += row[kind]['rate'] * args.seconds
            rows.append(row)
            print('round %d (load %s): store %.0f txn/s; one server %.0f reg/s (p50 %.1f ms, p99 %.1f ms, '
                  '%d errors); three servers %.0f reg/s (p50 %.1f ms, p99 %.1f ms, %d errors); about %d providers'
                  % (round_, load(), row['etcd']['rate'], row['one']['rate'], row['one']['p50'], row['one']['p99'],
                     row['one']['errors'], row['three']['rate'], row['three']['p50'], row['three']['p99'],
                     row['three']['errors'], registered))
        med = lambda kind: statistics.median(r[kind]['rate'] for r in rows)  # noqa: E731
        if rows:
            print('median of %d rounds, %d connections: store %.0f txn/s; one server %.0f reg/s = %.0f changes/s '
                  '(%.2f of the store); three servers %.0f reg/s = %.0f changes/s (%.2f of the store)'
                  % (len(rows), n, med('etcd'), med('one'), 2 * med('one'), 2 * med('one') / med('etcd'),
                     med('three'), 2 * med('three'), 2 * med('three') / med('etcd')))

        for label, rate in (('50%', med('one') / 2), ('100%', 0)) if 'propagation' in args.parts else ():
            figures = bench(bin_dir, '--servers', address(a), '--observe', '%s,%s' % (address(b), address(c)),
                            '--connections', n, '--seconds', args.seconds, '--rate', rate, '--name', 'p' + label[:-1])
            print('propagation at %s (%.0f reg/s through A, load %s): p50 %.1f ms, p99 %.1f ms over %d samples'
                  % (label, figures['rate'], load(), figures['prop50'], figures['prop99'], figures['samples']))

        ways = args.ways if 'catch-up' in args.parts else []
        for way in ways:
            if way == 'stopped':
                c.process.kill()
                c.process.wait()
            else:  # cut, or cut and the changes it missed compacted away
                noticed = c.log.text().count('store is unreachable')
                cut = store.cut_server(c)
                cut.__enter__()
            try:
                began = time.time()
                made = bench(bin_dir, '--servers', '%s,%s' % (address(a), address(b)), '--connections', n,
                             '--registrations', args.catch_up, '--name', 'away-' + way)
                # Through the same client as the load: one more registration, after all of it.
                bench(bin_dir, '--servers', address(a), '--connections', 1, '--registrations', 1,
                      '--name', 'marker-' + way)
                marker = 'marker-%s-0-0' % way
                print('%s: %d registrations (%d changes) made through A and B in %.1f s, %d errors'
                      % (way, args.catch_up, 2 * args.catch_up, time.time() - began, made['errors']))
                if way == 'compacted':
                    compact(store)
            finally:
                if way != 'stopped':
                    held = iptables('-S', cluster_store.CHAIN).returncode == 0 and c.log.text().count('store is unreachable') > noticed
                    print('cut held until healed: %s' % ('yes' if held else 'NO (figure void)'))
                    started = time.time()
                    cut.__exit__(None, None, None)
            if way == 'stopped':
                started = time.time()
                c.start()
            took = wait_listed(c, marker, started)
            print('catch-up after %s (load %s): C lists the marker %.2f s after its return' % (way, load(), took))
            if args.verbose:
                print('   ', '\n    '.join([l for l in c.log.text().splitlines() if 'Cluster' in l][-8:]))
        print('load average %s at the end' % load())
    finally:
        for item in servers:
            item.close()
        store.close()


if __name__ == '__main__':
    main()
