"""A cluster store of Debian's etcd on loopback, for tests and benchmarks: members started by
the caller's process, each killable and restartable on its own data, and each (as root) in a
group of its own, so that packet filters can cut it off from its peers."""
import contextlib
import itertools
import os
import shutil
import subprocess
import tempfile

from server_process import free_port, scaled, wait_until

ETCD = shutil.which('etcd') or '/usr/bin/etcd'


class StoreMember:
    def __init__(self, root, name, client_port, peer_port, cluster, group):
        self.name, self.client_port, self.peer_port = name, client_port, peer_port
        self.group = group if os.geteuid() == 0 else None
        self.command = [ETCD, '--name', name, '--data-dir', os.path.join(root, name),
                        '--listen-client-urls', 'http://127.0.0.1:%d' % client_port,
                        '--advertise-client-urls', 'http://127.0.0.1:%d' % client_port,
                        '--listen-peer-urls', 'http://127.0.0.1:%d' % peer_port,
                        '--initial-advertise-peer-urls', 'http://127.0.0.1:%d' % peer_port,
                        '--initial-cluster', cluster, '--initial-cluster-state', 'new',
                        '--heartbeat-interval', '50', '--election-timeout', '500']
        self.log = os.path.join(root, name + '.log')
        self.process = None

    def start(self):
        with open(self.log, 'ab') as log:
            self.process = subprocess.Popen(self.command, stdout=log, stderr=log, stdin=subprocess.DEVNULL,
                                            group=self.group)

    def kill(self):
        self.process.kill()
        self.process.wait()


class StoreCluster:
    def __init__(self, size=3):
        self.root = tempfile.mkdtemp(prefix='pictora-etcd-')
        ports = [(free_port(), free_port()) for _ in range(size)]
        cluster = ','.join('m%d=http://127.0.0.1:%d' % (i, peer) for i, (_, peer) in enumerate(ports))
        self.members = [StoreMember(self.root, 'm%d' % i, client, peer, cluster, CUT_GROUP + 1 + i)
                        for i, (client, peer) in enumerate(ports)]
        for member in self.members:
            member.start()
        assert wait_until(self.healthy, scaled(30)), 'the cluster store did not form'

    def endpoints(self, members=None):
        return ','.join('127.0.0.1:%d' % m.client_port for m in members or self.members)

    def join(self, server, prefix='/e2e/', members=None):
        """Puts a ServerProcess (not yet started) into cluster mode on this store, naming the
        given members (by default all) in that order."""
        with open(server.env['PICTORA_REGISTRY_FILE'], 'a') as key:
            key.write('ClusterEndpoints=%s\nClusterPrefix=%s\n' % (self.endpoints(members), prefix))

    def cut_member(self, index):
        """The member cut off from its peers; it still answers on its client port."""
        member = self.members[index]
        return cut(member.group, [m.peer_port for m in self.members if m is not member], [member.peer_port])

    def cut_server(self, server):
        """A server (started with a `group` of its own) cut off from every member."""
        return cut(server.group, [m.client_port for m in self.members])

    def healthy(self):
        result = subprocess.run(['etcdctl', '--endpoints', self.endpoints(), 'endpoint', 'health'],
                                capture_output=True, text=True, env=dict(os.environ, ETCDCTL_API='3'))
        return result.returncode == 0

    def close(self):
        for member in self.members:
            if member.process and member.process.poll() is None:
                member.kill()
        shutil.rmtree(self.root, ignore_errors=True)


CUT_GROUP = 64230  # processes a cut singles out run in groups from here up (the members next)
CHAIN, MARKS = 'PICTORA-TEST-CUT', itertools.count()


def iptables(*words):
    return subprocess.run(['iptables', '-w', *words], capture_output=True, text=True)


@contextlib.contextmanager
def cut(group, ports, own_ports=()):
    """Drops on loopback, in a chain of our own removed on leaving, both directions of every
    connection a process of `group` opens to one of `ports` or any opens to or from `own_ports`
    (told by a mark on its tracking entry, fresh for each cut)."""
    mark = '0x%x/0xff00' % ((next(MARKS) % 0xff + 1) << 8)
    matches = [['-m', 'owner', '--gid-owner', str(group), '-m', 'multiport', '--dports', ','.join(map(str, ports))]]
    matches += [['-m', 'multiport', '--ports', ','.join(map(str, own_ports))]] if own_ports else []
    steps = [['-N', CHAIN]] + [['-A', CHAIN, '-p', 'tcp', *m, '-j', 'CONNMARK', '--set-mark', mark] for m in matches]
    steps += [['-A', CHAIN, '-m', 'connmark', '--mark', mark, '-j', 'DROP'], ['-I', 'OUTPUT', '-o', 'lo', '-j', CHAIN]]
    try:
        for words in steps:
            assert iptables(*words).returncode == 0, words
        yield
    finally:
        iptables('-D', 'OUTPUT', '-o', 'lo', '-j', CHAIN)
        iptables('-F', CHAIN)
        iptables('-X', CHAIN)


def cut_unusable():
    """Why connections cannot be cut here, or None."""
    if os.geteuid() == 0 and shutil.which('iptables') and iptables('-S', 'OUTPUT').returncode == 0:
        return None
    return 'cutting connections needs root and a working iptables'
