"""Real providers against the real server: stand-in provider processes (our runtime) and
providers on impacket's NDR types. Clients get a service's providers least loaded first; the
liveness pass drops the dead and only them; a silent provider costs at most one call time-out;
a forgotten provider registers again; one whose server dies moves to the next server given."""
import re
import signal
import threading
import time

import pytest

import pictora_wire as w
from pictora_wire import PyProvider, endpoints_in_order
from server_process import Provider, ServerProcess, address, cli, scaled, wait_until

# Grows with the time scale, so that the bounds below still tell one time-out from two.
CALL_TIMEOUT_MS = int(scaled(1500))


@pytest.fixture
def running():
    """Whatever a test starts, ended at its end, last first."""
    items = []
    yield items
    for item in reversed(items):
        item.stop() if isinstance(item, Provider) else item.close()


@pytest.fixture
def server_with(running):
    def start(services=('Images/Thumbs',), config='', liveness_seconds=60):
        server = ServerProcess({'PICTORA_TEST_LIVENESS_SECONDS': str(liveness_seconds)})
        running.append(server)
        server.write_services(*services)
        server.write_configuration(config)
        return server.start()
    return start


def start_providers(server, running, *specs):
    """(name, load, kind): kind 'runtime' is a pictora-provider process ('refuse-ping' and
    'silent': one with that option); 'impacket' a PyProvider, 'impacket-fault' one that answers
    the ping with an unspecified fault (the server sees 1726), 'impacket-silent' one that never
    answers."""
    providers = []
    for name, load, kind in specs:
        if kind.startswith('impacket'):
            provider = PyProvider(load, 0x1C000012 if kind == 'impacket-fault' else None, kind == 'impacket-silent')
            w.register(server.port, name, provider.port, load=load)
        else:
            provider = Provider(server, name, load, [] if kind == 'runtime' else ['--' + kind]).wait_registered()
        running.append(provider)
        providers.append(provider)
    return providers


@pytest.mark.parametrize('kind', ['runtime', 'impacket'])
def test_three_providers_come_back_least_loaded_first_also_through_the_client_tool(server_with, running, kind):
    server = server_with()
    seven, two, five = start_providers(server, running, ('Seven', 0.7, 'runtime'), ('Two', 0.2, 'runtime'),
                                       ('Five', 0.5, kind))
    assert endpoints_in_order(w.providers_for(server.port)) == [two.port, five.port, seven.port]
    # The client tool prints them in the server's order, each with the load it asked the provider for.
    table = cli(server, 'providers-for', 'Images/Thumbs')
    rows = [line.split() for line in table.stdout.splitlines()[1:]]
    assert [(row[1], row[-1]) for row in rows] == [('Two', '0.20'), ('Five', '0.50'), ('Seven', '0.70')], table.stderr
    unknown = cli(server, 'providers-for', 'No/Such')
    assert unknown.returncode == 0 and 'no provider runs this service' in unknown.stdout
    detailed = cli(server, '--output', 'xml', 'info', 'Detailed')
    assert detailed.returncode == 0 and '<Detailed><ServiceProviders>' in detailed.stdout
    with ServerProcess(extra_env={'PICTORA_MEMORY_LIMIT_MB': '1'}) as starved:  # refuses every session
        refused = cli(starved.start(), 'providers')
        assert refused.returncode == 1 and 'could not open a session' in refused.stderr, refused.stderr


def test_liveness_drops_the_dead_and_only_them(server_with, running):
    """SIGTERM: a provider unregisters itself. SIGKILL: it is dropped after failing as many
    liveness passes as the setting asks. A remote error answering the ping is no proof of death;
    a time-out is one failure. A provider that does not answer the load query ranks as if its
    load were 1.0."""
    # Every load query of the final lookup must beat the time-out on a loaded machine too.
    server = server_with(liveness_seconds=1, config='<RpcCallTimeoutMs>%d</RpcCallTimeoutMs>'
                         '<LivenessFailuresBeforeRemoval>3</LivenessFailuresBeforeRemoval>' % CALL_TIMEOUT_MS)
    # The stand-in provider refuses the ping with access denied (5).
    keep, leaving, dead, refusing, high, plain, denying, silent = start_providers(
        server, running, ('Keep', 0.3, 'runtime'), ('Leaving', 0.3, 'runtime'), ('Dead', 0.1, 'runtime'),
        ('Refusing', 0.4, 'refuse-ping'), ('High', 1.5, 'runtime'), ('Plain', 0.5, 'impacket'),
        ('Denying', 0.6, 'impacket-fault'), ('Silent', 0.1, 'impacket-silent'))
    assert leaving.stop(signal.SIGTERM) == 0
    server.log.wait_for("Unregistered Service 'Images/Thumbs' from 'Leaving'")
    server.log.wait_for('Removed serviceProvider: Leaving')
    leaving.log.wait_for('unregistered')
    dead.stop(signal.SIGKILL)
    server.log.wait_for(r"No response from ServiceProvider: 'Dead'; error: .*\. Unregistering it\.", 15)
    server.log.wait_for('Removed serviceProvider: Dead')
    assert wait_until(lambda: min(p.calls.count(0) for p in (plain, denying, silent)) >= 2, 20), 'two passes'
    refusing.log.wait_for('(ping refused[\\s\\S]*){2}', 15)
    assert re.findall("No response from ServiceProvider: '(\\w+)'", server.log.text()) == ['Dead']
    answer = endpoints_in_order(w.providers_for(server.port))
    assert answer == [keep.port, refusing.port, plain.port, denying.port, silent.port, high.port]
    server.log.wait_for("No response from ServiceProvider: 'Silent'", 30)


@pytest.mark.parametrize('kind', ['runtime', 'impacket'])
def test_silent_provider_costs_at_most_the_call_timeout_and_does_not_hold_up_a_stop(server_with, running, kind):
    server = server_with(config='<RpcCallTimeoutMs>%d</RpcCallTimeoutMs>' % CALL_TIMEOUT_MS)
    silent, = start_providers(server, running, ('Silent', 0.1, 'silent' if kind == 'runtime' else 'impacket-silent'))
    timeout = CALL_TIMEOUT_MS / 1000
    outcome = {}

    def lookup():
        dce = w.connect(server.port, timeout=30)
        sid = w.session(dce)
        outcome['started'] = time.monotonic()
        outcome['answer'] = w.lookup(dce, sid, 'Images/Thumbs')
        outcome['took'] = time.monotonic() - outcome['started']

    lockless = w.connect(server.port, timeout=30)
    slow = threading.Thread(target=lookup)
    slow.start()
    # The lookup's session is open (which needs the registry lock) and its request on its way.
    assert wait_until(lambda: 'started' in outcome, 10)
    time.sleep(scaled(0.3))
    # A call that needs no registry lock (46) is answered while the lookup waits for the
    # provider; one that waited for the lock would come back only after the time-out.
    resp = w.call(lockless, w.GetServicesForServiceProvider, Session='', Name='Silent', Size=100000, ErrText='e')
    assert '<Name>Images/Thumbs</Name>' in w.buffer_text(resp)
    assert time.monotonic() - outcome['started'] < timeout - 0.1
    assert 'took' not in outcome
    # The lookup holds the registry lock across the load queries, so a call that needs the
    # lock (opening a session) waits for it, and is answered once the time-out has passed.
    other = w.connect(server.port, timeout=30)
    other_session = w.session(other)
    assert time.monotonic() - outcome['started'] >= timeout - 0.1
    slow.join(30)
    assert not slow.is_alive()
    # The silent provider is listed after at most one time-out.
    assert endpoints_in_order(outcome['answer']) == [silent.port]
    assert timeout - 0.1 <= outcome['took'] < 2 * timeout

    # Lookups wait for the silent provider again and more calls queue for the lock when the
    # operator stops the server: the close must not wait for calls that wait for the close.
    def client(work):
        try:
            work(w.connect(server.port, timeout=60))
        except Exception:
            pass  # cut off by the stop: expected

    lookups = lambda dce: [w.lookup(dce, other_session, 'Images/Thumbs') for _ in range(3)]  # noqa: E731
    for work in [lookups] * 2 + [w.session] * 20:
        threading.Thread(target=client, args=(work,), daemon=True).start()
        time.sleep(0.01)
    time.sleep(0.5)
    server.send_keys('q')
    assert server.finish(timeout=40) == 0
    assert 'Shutting down Server running at endpoint' in server.stderr


def test_provider_registers_again_after_a_server_restart(server_with, running):
    server = server_with()
    provider, = start_providers(server, running, ('Faithful', 0.25, 'runtime'))
    assert endpoints_in_order(w.providers_for(server.port)) == [provider.port]
    assert server.stop() == 0
    server.start()  # same home and port, no registrations
    provider.log.wait_for('the server no longer knows this provider; registering again', 15)
    provider.wait_registered(count=2)
    assert endpoints_in_order(w.providers_for(server.port)) == [provider.port]
    sessions = [line.split()[-4] for line in provider.log.text().splitlines() if 'registered with session' in line]
    assert len(sessions) == 2 and sessions[0] != sessions[1]


def test_provider_moves_to_the_next_server_when_one_dies(server_with, running):
    """Two servers stand for a cluster (here without a shared registry): the provider registers
    on the first, and once that one is killed, promptly on the second (the client tool moving on
    is shown against stand-ins in AdminCliTest)."""
    first, second = server_with(), server_with()
    provider = Provider(first, 'Roaming', 0.2, more_servers=(second,))
    running.append(provider)
    provider.wait_registered()
    assert endpoints_in_order(w.providers_for(first.port)) == [provider.port]
    assert endpoints_in_order(w.providers_for(second.port)) == []
    first.process.kill()
    first.process.wait()
    provider.log.wait_for('server %s stopped answering; moving to %s' % (address(first), address(second)), 5)
    provider.log.wait_for("(registered service 'Images/Thumbs'[\\s\\S]*){2}", 5)
    assert endpoints_in_order(w.providers_for(second.port)) == [provider.port]
