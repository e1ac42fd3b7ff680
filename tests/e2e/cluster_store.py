"""A cluster store of Debian's etcd on loopback, for tests and benchmarks: members started by
the caller's process, each killable and restartable on its own data."""
import os
import shutil
import subprocess
import tempfile

from server_process import free_port, scaled, wait_until

ETCD = shutil.which('etcd') or '/usr/bin/etcd'


class StoreMember:
    def __init__(self, root, name, client_port, peer_port, cluster):
        self.name, self.client_port = name, client_port
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
            self.process = subprocess.Popen(self.command, stdout=log, stderr=log, stdin=subprocess.DEVNULL)

    def kill(self):
        self.process.kill()
        self.process.wait()


class StoreCluster:
    def __init__(self, size=3):
        self.root = tempfile.mkdtemp(prefix='pictora-etcd-')
        ports = [(free_port(), free_port()) for _ in range(size)]
        cluster = ','.join('m%d=http://127.0.0.1:%d' % (i, peer) for i, (_, peer) in enumerate(ports))
        self.members = [StoreMember(self.root, 'm%d' % i, client, peer, cluster)
                        for i, (client, peer) in enumerate(ports)]
        for member in self.members:
            member.start()
        assert wait_until(self.healthy, scaled(30)), 'the cluster store did not form'

    def endpoints(self):
        return ','.join('127.0.0.1:%d' % m.client_port for m in self.members)

    def join(self, server, prefix='/e2e/'):
        """Puts a ServerProcess (not yet started) into cluster mode on this store."""
        with open(server.env['PICTORA_REGISTRY_FILE'], 'a') as key:
            key.write('ClusterEndpoints=%s\nClusterPrefix=%s\n' % (self.endpoints(), prefix))

    def healthy(self):
        result = subprocess.run(['etcdctl', '--endpoints', self.endpoints(), 'endpoint', 'health'],
                                capture_output=True, text=True, env=dict(os.environ, ETCDCTL_API='3'))
        return result.returncode == 0

    def close(self):
        for member in self.members:
            if member.process and member.process.poll() is None:
                member.kill()
        shutil.rmtree(self.root, ignore_errors=True)
