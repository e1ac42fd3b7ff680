"""Cluster mode against a single server, in one run on one machine (not part of the test suite):

    /usr/bin/python3 bench/cluster/run.py [--bin build/release/bin] [--registrations 200]
                                          [--seconds 3] [--rounds 5] [--connections 1 16]

A three-member cluster store and two clustered servers, A and B, beside a single server S, each
server with three stand-in providers of Images/Thumbs.
- Visibility: a provider registered on A (the moment A answers AddServiceProvider) until B
  answers GetServiceProviderInfo with it, polled on an open session; p50/p99 over the
  registrations (each is removed again before the next).
- Lookups per second on B and on S, interleaved rounds of lookup_bench, and their ratio per
  round (the median is printed).
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', '..', 'tests', 'e2e'))

import pictora_wire as w  # noqa: E402
from cluster_store import StoreCluster  # noqa: E402
from server_process import Provider, ServerProcess  # noqa: E402


def server(store=None):
    process = ServerProcess({'PICTORA_TEST_LIVENESS_SECONDS': '60'})
    if store:
        store.join(process, '/bench/')
    process.write_services('Images/Thumbs')
    process.write_configuration('<CreateLogs>false</CreateLogs>')
    # Started one after the other: each takes its port when it starts listening.
    return process.start()


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def visibility(a, b, count):
    """Milliseconds from A's answer to B's knowing, per registration."""
    writer, reader = w.connect(a.port), w.connect(b.port)
    reader_sid = w.session(reader)
    delays = []
    for i in range(count):
        name = 'Probe%d' % i
        # A provider's removal closes the session it registered through: one session each.
        writer_sid = w.session(writer, info='<SessionInfo><Application>PictoraProvider</Application></SessionInfo>')
        reply = w.name_data(writer, w.AddServiceProvider, writer_sid, name, w.provider_xml(40000 + i, 0, name))
        started = time.perf_counter()
        assert reply['Result'] == 1, '%s refused: %s' % (name, w.text(reply))
        while True:
            answer = w.call(reader, w.GetServiceProviderInfo, Session=reader_sid, Name=name, Size=20000, ErrText='e')
            if answer['Result'] == 0 and name in w.buffer_text(answer):
                break
        delays.append((time.perf_counter() - started) * 1000)
        w.call(writer, w.RemoveServiceProvider, Session=writer_sid, Name=name, ErrText=w.ERR)
    writer.disconnect()
    reader.disconnect()
    return delays


def lookups(bin_dir, port, connections, seconds):
    line = subprocess.run([os.path.join(bin_dir, 'lookup_bench'), '--row', '--server', '127.0.0.1:%d' % port,
                           '--service', 'Images/Thumbs', '--seconds', str(seconds), '--connections',
                           str(connections)], capture_output=True, text=True, check=True).stdout.split()
    return float(line[0]), float(line[1]), float(line[2]), int(line[3])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--bin', default=None)
    parser.add_argument('--registrations', type=int, default=200)
    parser.add_argument('--seconds', type=float, default=3)
    parser.add_argument('--rounds', type=int, default=5)
    parser.add_argument('--connections', type=int, nargs='+', default=[1, 16])
    args = parser.parse_args()
    if args.bin:
        os.environ['PICTORA_BIN_DIR'] = os.path.abspath(args.bin)
    bin_dir = os.environ.get('PICTORA_BIN_DIR') or os.path.join(HERE, '..', '..', 'build', 'release', 'bin')
    owned = []
    try:
        store = StoreCluster()
        owned.append(store)
        for _ in range(3):
            owned.append(server(store if len(owned) < 3 else None))
        a, b, single = owned[1:]
        for target in (a, single):
            for load in (0.7, 0.2, 0.5):
                provider = Provider(target, 'Load%s' % load, load)
                owned.append(provider)
                provider.wait_registered()
        print('%d cores, load average %s at start' % (os.cpu_count(), open('/proc/loadavg').read().split()[:3]))
        delays = visibility(a, b, args.registrations)
        print('registration visible on another server: p50 %.1f ms, p99 %.1f ms, max %.1f ms (%d registrations)'
              % (percentile(delays, 0.5), percentile(delays, 0.99), max(delays), len(delays)))
        print('%-11s %12s %12s %8s %14s %14s %7s' % ('connections', 'cluster/s', 'single/s', 'ratio',
                                                     'cluster p99 us', 'single p99 us', 'errors'))
        for connections in args.connections:
            rows = []
            for round_ in range(args.rounds):
                order = [(b, 'cluster'), (single, 'single')]
                if round_ % 2:
                    order.reverse()
                figures = {kind: lookups(bin_dir, target.port, connections, args.seconds) for target, kind in order}
                rows.append(figures)
            med = lambda kind, k: statistics.median(r[kind][k] for r in rows)  # noqa: E731
            ratio = statistics.median(r['cluster'][0] / r['single'][0] for r in rows)
            errors = sum(r[kind][3] for r in rows for kind in r)
            print('%-11d %12.0f %12.0f %8.2f %14.0f %14.0f %7d' % (connections, med('cluster', 0), med('single', 0),
                                                                ratio, med('cluster', 2), med('single', 2), errors))
        print('load average %s at the end' % open('/proc/loadavg').read().split()[:3])
    finally:
        for item in reversed(owned):
            item.stop() if isinstance(item, Provider) else item.close()


if __name__ == '__main__':
    main()
