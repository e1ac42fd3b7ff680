"""How long a clustered server takes to move its watch off a store member that is cut off from
its peers, and to have a change made elsewhere, against the same change's arrival with no cut
(not part of the test suite; root and iptables, as the partition test):

    sudo /usr/bin/python3 bench/cluster/partition.py [--bin build/rel/bin] [--runs 7]

A three-member store; server B names members 1 and 2, and each run starts a fresh server A
naming member 0 first, so that A's watch opens on it. A run registers a provider on B and times
until A answers with it (the baseline); then cuts member 0 off from its peers, registers another
on B at once and times until A answers with that one (catch-up), reading from A's log when its
stream broke (watch moved). The cut is healed and the store healthy again before the next run.
"""
import argparse
import os
import re
import statistics
import sys
import time
from datetime import datetime

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', '..', 'tests', 'e2e'))

import pictora_wire as w  # noqa: E402
from cluster_store import StoreCluster  # noqa: E402
from server_process import ServerProcess, wait_until  # noqa: E402


def server(store, members):
    process = ServerProcess({'PICTORA_TEST_LIVENESS_SECONDS': '600'})
    store.join(process, '/bench/', [store.members[i] for i in members])
    process.write_services('Images/Thumbs')
    process.write_configuration()
    return process.start()


def register(target, name):
    dce = w.connect(target.port, timeout=30)
    sid = w.session(dce, info='<SessionInfo><Application>PictoraProvider</Application></SessionInfo>')
    reply = w.name_data(dce, w.AddServiceProvider, sid, name, w.provider_xml(1, 0, name))
    assert reply['Result'] == 1, w.text(reply)
    dce.disconnect()


def seconds_until_known(target, name, started, limit=30):
    dce = w.connect(target.port, timeout=30)
    sid = w.session(dce)
    while time.time() - started < limit:
        answer = w.call(dce, w.GetServiceProviderInfo, Session=sid, Name=name, Size=20000, ErrText='e')
        if answer['Result'] == 0 and name in w.buffer_text(answer):
            dce.disconnect()
            return time.time() - started
        time.sleep(0.01)
    raise AssertionError('%s never arrived' % name)


def stream_broke(log, started):
    """Seconds from `started` to the first stream break A logged after it, and why it broke."""
    for stamp, line in re.findall(r'^(\S+ \S+) (.*stream broke.*)$', log, re.M):
        at = datetime.strptime(stamp, '%Y-%m-%d %H:%M:%S.%f').timestamp()
        if at >= started:
            return at - started, 'no leader' if 'no leader' in line else 'behind' if 'behind' in line else 'other'
    return float('nan'), 'none logged'


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--bin', default=None)
    parser.add_argument('--runs', type=int, default=7)
    args = parser.parse_args()
    if args.bin:
        os.environ['PICTORA_BIN_DIR'] = os.path.abspath(args.bin)
    store = StoreCluster()
    b = server(store, [1, 2])
    rows = []
    try:
        print('%d cores, load average %s at start' % (os.cpu_count(), open('/proc/loadavg').read().split()[:3]))
        for run in range(args.runs):
            a = server(store, [0, 1, 2])
            try:
                started = time.time()
                register(b, 'Base%d' % run)
                baseline = seconds_until_known(a, 'Base%d' % run, started)
                with store.cut_member(0):
                    started = time.time()
                    register(b, 'Cut%d' % run)
                    caught_up = seconds_until_known(a, 'Cut%d' % run, started)
                    moved, why = stream_broke(a.log.text(), started)
                rows.append((baseline, moved, caught_up))
                print('run %d: no cut %.3f s; cut: watch moved %.2f s (%s), caught up %.2f s'
                      % (run, baseline, moved, why, caught_up))
            finally:
                a.close()
            assert wait_until(store.healthy, 30), 'the store did not heal'
        median = [statistics.median(r[i] for r in rows) for i in range(3)]
        print('median of %d runs: no cut %.3f s; cut: watch moved %.2f s, caught up %.2f s (%.0fx the baseline)'
              % (len(rows), *median, median[2] / median[0]))
    finally:
        b.close()
        store.close()


if __name__ == '__main__':
    main()
