"""Liveness and time-outs with real processes: a provider that refuses the ping with a remote
error stays; a provider that never answers costs at most the call time-out."""
import threading
import time

import pytest

from provider_harness import Provider, PyProvider, Server, WireClient, endpoints_in_order, wait_for
from timing import scaled

# Grows with the time scale, so that the bound below still tells one time-out from two.
CALL_TIMEOUT_MS = int(scaled(1500))


@pytest.fixture
def cleanup():
    items = []
    yield items
    for item in reversed(items):
        item.stop() if hasattr(item, 'stop') else item.close()


def test_provider_refusing_the_ping_stays_registered(tmp_path, cleanup):
    server = Server(str(tmp_path), liveness_seconds=1).start()
    cleanup.append(server)
    # The stand-in provider refuses with access denied (5); the impacket one with an
    # unspecified fault, which the server sees as 1726.
    refusing = Provider(server, 'Refusing', 0.4, ['--refuse-ping']).wait_registered()
    denying = PyProvider(load=0.6, ping_fault=0x1C000012)
    cleanup.extend([refusing, denying])
    denying.register(server, 'Denying')

    wait_for(lambda: denying.calls.count(0) >= 2, 15, 'two liveness passes')
    wait_for(lambda: refusing.log.text().count('ping refused') >= 2, 15, 'two refused pings')
    assert 'No response from ServiceProvider' not in server.log.text()
    answer = WireClient(server).providers_for('Images/Thumbs')
    assert endpoints_in_order(answer) == [refusing.port, denying.port]


@pytest.mark.parametrize('kind', ['runtime', 'impacket'])
def test_silent_provider_costs_at_most_the_call_timeout(tmp_path, cleanup, kind):
    server = Server(str(tmp_path), extra_config='<RpcCallTimeoutMs>%d</RpcCallTimeoutMs>' % CALL_TIMEOUT_MS,
                    services=('Images/Thumbs', ('Images/Other', 'Answering'))).start()
    cleanup.append(server)
    if kind == 'runtime':
        silent = Provider(server, 'Silent', 0.1, ['--silent']).wait_registered()
    else:
        silent = PyProvider(load=0.1, silent=True)
        silent.register(server, 'Silent')
    answering = PyProvider(load=0.3)
    cleanup.extend([silent, answering])
    answering.register(server, 'Answering', services=('Images/Other',))

    outcome = {}

    def lookup():
        client = WireClient(server)
        outcome['started'] = time.monotonic()
        outcome['answer'] = client.providers_for('Images/Thumbs')
        outcome['took'] = time.monotonic() - outcome['started']

    lockless = WireClient(server, session=False)
    slow = threading.Thread(target=lookup)
    slow.start()
    # The lookup's session is open (which needs the registry lock) and its request on its way.
    wait_for(lambda: 'started' in outcome, 10, 'the lookup to start')
    time.sleep(scaled(0.3))
    # A call that needs no registry lock is answered while the lookup waits for the provider;
    # one that waited for the lock would come back only after the time-out.
    assert '<Name>Images/Thumbs</Name>' in lockless.services_for_provider('Silent')
    assert time.monotonic() - outcome['started'] < CALL_TIMEOUT_MS / 1000 - 0.1
    assert 'took' not in outcome
    # The lookup holds the registry lock across the load queries, so a call that needs the
    # lock (opening a session) waits for it, and is answered once the time-out has passed.
    other = WireClient(server)
    assert time.monotonic() - outcome['started'] >= CALL_TIMEOUT_MS / 1000 - 0.1
    slow.join(30)
    assert not slow.is_alive()
    # The silent provider is listed, ranked as if its load were 1.0, after at most one time-out.
    assert endpoints_in_order(outcome['answer']) == [silent.port]
    assert CALL_TIMEOUT_MS / 1000 - 0.1 <= outcome['took'] < 2 * CALL_TIMEOUT_MS / 1000

    # Once the slow lookup has let the registry lock go, other lookups wait for no time-out.
    started = time.monotonic()
    assert endpoints_in_order(other.providers_for('Images/Other')) == [answering.port]
    assert time.monotonic() - started < CALL_TIMEOUT_MS / 1000 - 0.1


def test_silent_provider_survives_the_liveness_pass(tmp_path, cleanup):
    server = Server(str(tmp_path), liveness_seconds=1,
                    extra_config='<RpcCallTimeoutMs>%d</RpcCallTimeoutMs>' % 500).start()
    cleanup.append(server)
    silent = PyProvider(load=0.1, silent=True)
    cleanup.append(silent)
    silent.register(server, 'Silent')
    wait_for(lambda: silent.calls.count(0) >= 2, 20, 'two pings of the silent provider')
    # A time-out is not "server unavailable": the provider is kept.
    assert 'No response from ServiceProvider' not in server.log.text()
    assert WireClient(server).version()
