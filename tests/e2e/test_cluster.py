"""Three servers sharing one registry through a three-member cluster store (Debian's etcd), all
on loopback and all stopped by the test. Providers are impacket-based stand-ins; the clients are
impacket too. What one server is told the others answer; losing a server loses nothing. Cut off
by packet filters (root and iptables, as in CI), a server still answers what it acknowledged at
once and follows the majority, or refuses changes plainly; all catch up once the cut heals."""
import os
import signal
import time

import pytest

import pictora_wire as w
from pictora_wire import PyProvider
from cluster_store import CUT_GROUP, StoreCluster, cut_unusable
from server_process import LogFile, Provider, ServerProcess, cli, free_port, wait_until, scaled
from test_metrics_audit import scrape
from test_status_page import get

UNREACHABLE = '<ID>003D0C</ID>'  # 15628


def clustered_server(store, running, members=None, group=None, metrics=None):
    server = ServerProcess({'PICTORA_TEST_LIVENESS_SECONDS': '1'}, key='MetricsEndpoint=%s\n' % (metrics or ''))
    server.group = group
    running.append(server)
    store.join(server, members=members and [store.members[i] for i in members])
    server.write_services('Images/Thumbs')
    server.write_configuration()
    return server.start()


def add(server, name, endpoint):
    """AddServiceProvider on a fresh session: None when acknowledged, else the status text."""
    dce = w.connect(server.port, timeout=30)
    sid = w.session(dce, info='<SessionInfo><Application>PictoraProvider</Application></SessionInfo>')
    reply = w.name_data(dce, w.AddServiceProvider, sid, name, w.provider_xml(endpoint.port, 0, name))
    dce.disconnect()
    return None if reply['Result'] == 1 else w.text(reply)


def knows(server, *names):
    dce = w.connect(server.port, timeout=30)
    sid = w.session(dce)
    known = all(name in w.buffer_text(w.call(dce, w.GetServiceProviderInfo, Session=sid, Name=name, Size=20000,
                                             ErrText='e')) for name in names)
    dce.disconnect()
    return known


def leader(servers):
    return [s for s in servers if s.process.poll() is None and 'now runs the liveness pass' in s.log.text()]


@pytest.fixture
def running():
    items = []
    yield items
    for item in reversed(items):
        item.stop(signal.SIGKILL) if isinstance(item, Provider) else item.close()


def test_servers_share_one_registry_through_losses(running):
    store = StoreCluster()
    running.append(store)
    first = clustered_server(store, running)
    assert wait_until(lambda: leader([first]), scaled(10)), first.log.text()
    second, third = clustered_server(store, running), clustered_server(store, running)

    # Registered on one server (by a stand-in provider process), answered by the other two.
    one = Provider(first, 'One', 0.1)
    running.append(one)
    one.wait_registered()
    for other in (second, third):
        assert wait_until(lambda: knows(other, 'One'), scaled(5)), other.log.text()

    # A service change made through one server reaches every server's services file.
    added = cli(second, 'admin', 'service', 'add', 'Images/Big', '--source', 'big')
    assert added.returncode == 0, added.stdout + added.stderr
    services_file = LogFile(os.path.join(third.server_folder, 'Pictora.Services'))
    services_file.wait_for('Images/Big', scaled(5))

    # The server that took the registration dies: nothing is lost, and another server takes
    # over the liveness pass, which drops a provider that died too.
    first.process.send_signal(signal.SIGKILL)
    first.process.wait()
    assert knows(second, 'One') and knows(third, 'One')
    assert wait_until(lambda: leader([second, third]), scaled(10)), second.log.text() + third.log.text()
    one.stop(signal.SIGKILL)
    assert wait_until(lambda: not knows(second, 'One'), scaled(15)), second.log.text() + third.log.text()


@pytest.mark.skipif(cut_unusable() is not None, reason=str(cut_unusable()))
def test_servers_under_partitions(running):
    store = StoreCluster()
    alive = PyProvider()  # every name registers at this endpoint, which answers the liveness pass
    running.extend([store, alive])
    first, alone = clustered_server(store, running, [0, 1, 2]), clustered_server(store, running, [0])
    metrics = free_port()
    other = clustered_server(store, running, [1, 2], CUT_GROUP, '127.0.0.1:%d' % metrics)
    assert add(first, 'Before', alive) is None
    with store.cut_member(0):
        # Naming it first: what a server acknowledges it answers at once; it follows the majority.
        assert add(first, 'First', alive) is None and knows(first, 'First'), first.log.text()
        assert add(other, 'Other', alive) is None and knows(other, 'First')
        assert wait_until(lambda: knows(first, 'Other'), scaled(10)), first.log.text()
        # Naming it alone: changes refused, lookups answered from what it saw.
        assert wait_until(lambda: UNREACHABLE in (add(alone, 'Alone', alive) or ''), scaled(15)), alone.log.text()
        assert knows(alone, 'Before')
    assert wait_until(lambda: knows(alone, 'First', 'Other') and add(alone, 'Alone', alive) is None, scaled(15))

    # A server cut off from every member: the same, and the operator is told.
    with store.cut_server(other):
        assert UNREACHABLE in (add(other, 'Cut', alive) or '')
        assert add(first, 'During', alive) is None and knows(other, 'Before')
        other.log.wait_for('The cluster store is unreachable', scaled(10))
        assert '"Store": "unreachable"' in cli(other, '--output', 'json', 'admin', 'cluster', 'status').stdout
        assert scrape(metrics)['pictora_cluster_reachable'] == 0 and get(metrics, '/readyz')[0] == 503
    assert wait_until(lambda: add(other, 'After', alive) is None, scaled(15)), other.log.text()
    assert wait_until(lambda: get(metrics, '/readyz')[0] == 200, scaled(5))
    names = ['Before', 'First', 'Other', 'Alone', 'During', 'After']
    for i in range(5):  # flapping: whatever is acknowledged meanwhile is answered at once
        with store.cut_member(0):
            if add(first, 'Flap%d' % i, alive) is None:
                assert knows(first, 'Flap%d' % i)
                names.append('Flap%d' % i)
            time.sleep(1)
    assert len(names) >= 8, first.log.text()
    # Nothing acknowledged is lost, and every server has caught up within a bound.
    for server in (first, alone, other):
        assert wait_until(lambda: knows(server, *names), scaled(15)), server.log.text()
    pids = {str(server.process.pid) for server in (first, alone, other)}
    leader_pid = lambda: (get(metrics, '/api/v1/cluster')[1]['leader'] or ':').rsplit(':', 1)[1]
    assert wait_until(lambda: leader_pid() in pids, scaled(5))
