"""A soak run of the real server (not part of the test suite): mixed load for a while, with
providers dying, turning silent and coming back, sessions opened and abandoned, management calls
(configuration rewrites and abandoned management sessions among them), slow metrics scrapers and
hostile requests mixed in. It samples the server's memory, descriptors and threads, times a scrape
of the metrics page, counts calls that failed although they should have succeeded, and at the end
checks that every file the server wrote parses.

    /usr/bin/python3 bench/soak/soak.py [--seconds 1800] [--warmup 300] [--bin build/release/bin]
"""
import argparse
import os
import random
import signal
import socket
import struct
import sys
import threading
import time
import urllib.request
import xml.etree.ElementTree as ElementTree

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', '..', 'tests', 'e2e'))

import pictora_wire as w  # noqa: E402
from server_process import Provider, ServerProcess, free_port  # noqa: E402

SERVICES = ('Images/Thumbs', 'Images/Tiles')
ADMIN = ('<SessionInfo><Application>ServerManager</Application><MachineName>%s</MachineName></SessionInfo>'
         % socket.gethostname())


class Counters:
    def __init__(self):
        self.lock = threading.Lock()
        self.values = {}

    def add(self, name, count=1):
        with self.lock:
            self.values[name] = self.values.get(name, 0) + count

    def held(self):
        with self.lock:
            return self.values.get('idle connections held', 0)


def sample(pid):
    with open('/proc/%d/status' % pid) as f:
        fields = dict(line.split(':', 1) for line in f)
    return (int(fields['VmRSS'].split()[0]) // 1024, len(os.listdir('/proc/%d/fd' % pid)),
            int(fields['Threads']))


def client(server, stop, counters):
    """Sessions with lookups; one session in five is abandoned without closing."""
    rng = random.Random()
    while not stop.is_set():
        try:
            dce = w.connect(server.port, timeout=30)
            sid = w.session(dce)
            for _ in range(rng.randint(1, 20)):
                answer = w.lookup(dce, sid, rng.choice(SERVICES))
                assert answer.startswith('<Pictora><Server><ServiceProviders>')
                counters.add('lookups')
            if rng.random() < 0.8:
                w.call(dce, w.CloseSession, Text=sid)
            else:
                counters.add('sessions abandoned')
            dce.disconnect()
        except Exception as error:  # noqa: BLE001
            counters.add('failed client calls')
            print('client:', error, file=sys.stderr)
        time.sleep(rng.uniform(0, 0.05))


def administrator(server, stop, counters):
    rng = random.Random()
    while not stop.is_set():
        try:
            dce = w.connect(server.port, timeout=30)
            answer = w.call(dce, w.ManagerOpenSession, Info=ADMIN, SessionId='x' * 36, Status='s' * 4000)
            assert answer['Result'] == 1, w.text(answer, 'Status')
            sid = w.text(answer, 'SessionId')
            name = 'Soak/S%d' % rng.randint(0, 20)
            for cls, fields in ((w.ManagerAddService, dict(Source='soak', Name=name, Properties='', Providers='P0')),
                                (w.StartService, dict(Text=name)), (w.StopService, dict(Text=name)),
                                (w.ManagerRemoveService, dict(Text=name, Providers='P0'))):
                w.call(dce, cls, Session=sid, Status='s' * 4000, **fields)
            report = w.call(dce, w.GetServerInfo, Session=sid, Size=1 << 20, Status='s' * 4000)
            assert report['Result'] == 0
            # A configuration rewrite whose value looks like markup: it must stay one value.
            value = 'v%d&lt;/SoakValue&gt;&lt;LogsFolder&gt;/tmp&lt;/LogsFolder&gt;' % rng.randint(0, 1000)
            update = '<Pictora><Server><Config><SoakValue>%s</SoakValue></Config></Server></Pictora>' % value
            answer = w.call(dce, w.UpdateServerConfigXml, Session=sid, Text=update, Status='s' * 4000)
            assert answer['Result'] == 1, w.text(answer, 'Status')
            if rng.random() < 0.2:
                counters.add('management sessions abandoned')
            else:
                w.call(dce, w.ManagerCloseSession, Session=sid, Status='s')
            dce.disconnect()
            counters.add('management rounds')
        except Exception as error:  # noqa: BLE001
            counters.add('failed management calls')
            print('administrator:', error, file=sys.stderr)
        time.sleep(rng.uniform(0.5, 2))


def hostile(server, stop, counters):
    """Garbage PDUs, deep XML, connections that never speak, large buffers read slowly."""
    rng = random.Random()
    idle = []
    while not stop.is_set():
        kind = rng.randrange(4)
        try:
            if kind == 0:
                with socket.create_connection(('127.0.0.1', server.port), timeout=5) as s:
                    s.sendall(bytes(rng.randrange(256) for _ in range(rng.randint(1, 200))))
            elif kind == 1:
                dce = w.connect(server.port, timeout=30)
                sid = w.session(dce)
                deep = '<Pictora><ImageServices>%s</ImageServices></Pictora>' % ('<Service>' * 2000)
                w.name_data(dce, w.AddServices, sid, 'P0', deep)
                dce.disconnect()
            elif kind == 2:
                idle.append(socket.create_connection(('127.0.0.1', server.port), timeout=5))
                if len(idle) > 200:
                    idle.pop(0).close()
                counters.add('idle connections held', len(idle) - counters.held())
            else:
                dce = w.connect(server.port, timeout=30)
                w.call(dce, w.Reserved20, Session='x', Size=2 << 20, ErrText='e')
                dce.disconnect()
            counters.add('hostile requests')
        except Exception:  # noqa: BLE001  (refusals are the point)
            counters.add('hostile requests refused')
        time.sleep(rng.uniform(0, 0.2))
    for s in idle:
        s.close()


def slow_scrapers(port, stop, counters):
    """Connections to the metrics page that send a header line now and then and never finish."""
    held = []
    while not stop.wait(0.5):
        try:
            held.append(socket.create_connection(('127.0.0.1', port), timeout=5))
            held[-1].sendall(b'GET /metrics HTTP/1.1\r\n')
            for s in held:
                s.sendall(b'X: y\r\n')
        except OSError:
            counters.add('slow scrapers cut off')
            held = [s for s in held if s.fileno() >= 0][-40:]
        if len(held) > 40:
            held.pop(0).close()
    for s in held:
        s.close()


def scrape_seconds(port):
    started = time.monotonic()
    with urllib.request.urlopen('http://127.0.0.1:%d/metrics' % port, timeout=10) as answer:
        answer.read()
    return time.monotonic() - started


def files_parse(folder):
    """The files of the Server folder that do not parse."""
    broken = []
    for name in os.listdir(folder):
        if name.endswith(('.Services', '.PTSConfig', '.PTPConfig')):
            try:
                ElementTree.parse(os.path.join(folder, name))
            except ElementTree.ParseError:
                broken.append(name)
    return broken


def churn(server, providers, pyproviders, stop, counters):
    """Kills a stand-in provider now and then and starts it again; turns a Python one silent."""
    rng = random.Random()
    while not stop.wait(rng.uniform(20, 40)):
        index = rng.randrange(len(providers))
        providers[index].stop(signal.SIGKILL)
        providers[index] = Provider(server, 'P%d' % index, round(rng.random(), 2))
        silent = rng.choice(pyproviders)
        silent.silent = not silent.silent
        counters.add('provider restarts')


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--seconds', type=int, default=1800)
    parser.add_argument('--warmup', type=int, default=300)
    parser.add_argument('--bin', default=os.path.join(HERE, '..', '..', 'build', 'release', 'bin'))
    args = parser.parse_args()
    os.environ['PICTORA_BIN_DIR'] = os.path.abspath(args.bin)
    counters = Counters()
    metrics = free_port()
    key = 'MetricsEndpoint=127.0.0.1:%d\n' % metrics
    with ServerProcess({'PICTORA_TEST_LIVENESS_SECONDS': '5'}, key=key) as server:
        server.write_services(*SERVICES)
        server.write_configuration('<RpcCallTimeoutMs>1000</RpcCallTimeoutMs><ParallelLoadQueries>true'
                                   '</ParallelLoadQueries><LoadQueryBudgetMs>500</LoadQueryBudgetMs>'
                                   '<LivenessFailuresBeforeRemoval>2</LivenessFailuresBeforeRemoval>'
                                   '<SessionIdleTimeout>60</SessionIdleTimeout>')
        server.start()
        providers = [Provider(server, 'P%d' % i, 0.1 * (i + 1)) for i in range(4)]
        pyproviders = [w.PyProvider(0.5), w.PyProvider(0.6)]
        for i, p in enumerate(pyproviders):
            w.register(server.port, 'Py%d' % i, p.port, SERVICES)
        stop = threading.Event()
        threads = [threading.Thread(target=client, args=(server, stop, counters)) for _ in range(6)]
        threads += [threading.Thread(target=administrator, args=(server, stop, counters)),
                    threading.Thread(target=hostile, args=(server, stop, counters)),
                    threading.Thread(target=slow_scrapers, args=(metrics, stop, counters)),
                    threading.Thread(target=churn, args=(server, providers, pyproviders, stop, counters))]
        for t in threads:
            t.start()
        samples = []
        started = time.monotonic()
        while time.monotonic() - started < args.seconds:
            time.sleep(15)
            # The hostile thread keeps up to 200 silent connections open on purpose: the server
            # holds their descriptors as long as the soak does, so they are shown apart.
            held = counters.held()
            rss, fds, threads_ = sample(server.process.pid)
            scrape = scrape_seconds(metrics)
            samples.append((time.monotonic() - started, rss, fds - held, threads_, scrape))
            print('%5.0f s  rss %d MiB  fds %d (and %d held open by the soak)  threads %d  scrape %.3f s'
                  % (samples[-1][:3] + (held, threads_, scrape)), flush=True)
        stop.set()
        for t in threads:
            t.join(60)
        for p in providers:
            p.stop()
        for p in pyproviders:
            p.close()
        broken = files_parse(server.server_folder)
        soak_values = open(os.path.join(server.server_folder, 'Pictora.PTSConfig')).read().count('<SoakValue>')
    after = [s for s in samples if s[0] >= args.warmup]
    print('files that do not parse: %s; SoakValue elements in the configuration: %d (1 expected); slowest '
          'scrape %.3f s' % (broken or 'none', soak_values, max(s[4] for s in samples)))
    print('\nafter warm-up (%d s): rss %d-%d MiB, fds %d-%d (besides those the soak holds), threads %d-%d' % (
        args.warmup, min(s[1] for s in after), max(s[1] for s in after), min(s[2] for s in after),
        max(s[2] for s in after), min(s[3] for s in after), max(s[3] for s in after)))
    for name, value in sorted(counters.values.items()):
        print('%-26s %d' % (name, value))


if __name__ == '__main__':
    main()
