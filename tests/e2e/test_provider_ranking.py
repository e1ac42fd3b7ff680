"""Clients get the providers of a service least loaded first, with a provider that cannot answer
the load query ranked as if its load were 1.0."""
import signal

import pytest

import pictora_wire as w
from provider_harness import (Provider, PyProvider, Server, WireClient, cli, endpoints_in_order,
                              expected_answer, wait_for)


@pytest.fixture
def server(tmp_path):
    s = Server(str(tmp_path)).start()
    yield s
    s.stop()


@pytest.fixture
def providers():
    started = []
    yield started
    for p in started:
        p.stop() if isinstance(p, Provider) else p.close()


@pytest.mark.parametrize('python_provider', [False, True], ids=['runtime-providers', 'with-impacket-provider'])
def test_three_providers_come_back_least_loaded_first(server, providers, python_provider):
    loads = {'Seven': 0.7, 'Two': 0.2, 'Five': 0.5}
    ports = {}
    for name, load in loads.items():
        if python_provider and name == 'Five':
            py = PyProvider(load=load)
            providers.append(py)
            py.register(server, name)
            ports[name] = py.port
        else:
            p = Provider(server, name, load).wait_registered()
            providers.append(p)
            ports[name] = p.port

    client = WireClient(server)
    answer = client.providers_for('Images/Thumbs')
    order = ['Two', 'Five', 'Seven']
    assert answer == expected_answer([(n, '127.0.0.1', ports[n]) for n in order])
    # The name is looked up in the normal form: other case and a backslash find the same service.
    assert endpoints_in_order(client.providers_for('images\\THUMBS')) == [ports[n] for n in order]

    table = cli(server, 'providers-for', 'Images/Thumbs')
    assert table.returncode == 0, table.stderr
    rows = [line.split() for line in table.stdout.splitlines()[1:]]
    assert [(r[0], r[1], int(r[3])) for r in rows] == [(str(i + 1), n, ports[n]) for i, n in enumerate(order)]


def test_unknown_service_gives_the_empty_list(server):
    assert WireClient(server).providers_for('No/Such') == expected_answer([])
    table = cli(server, 'providers-for', 'No/Such')
    assert table.returncode == 0 and 'no provider runs this service' in table.stdout


def test_stopped_provider_ranks_as_one(server, providers):
    low = Provider(server, 'Low', 0.9).wait_registered()
    high = Provider(server, 'High', 1.5).wait_registered()
    dead = Provider(server, 'Dead', 0.1).wait_registered()
    providers.extend([low, high, dead])
    dead.stop(signal.SIGKILL)  # gone without unregistering

    answer = WireClient(server).providers_for('Images/Thumbs')
    assert endpoints_in_order(answer) == [low.port, dead.port, high.port]


def test_stopped_provider_is_dropped_by_the_liveness_pass(tmp_path, providers):
    server = Server(str(tmp_path), liveness_seconds=1).start()
    try:
        keep = Provider(server, 'Keep', 0.3).wait_registered()
        dead = Provider(server, 'Dead', 0.1).wait_registered()
        providers.extend([keep, dead])
        dead.stop(signal.SIGKILL)
        server.log.wait_for(r"No response from ServiceProvider: 'Dead'; error: .*\. Unregistering it\.", 15)
        server.log.wait_for('Removed serviceProvider: Dead')
        assert endpoints_in_order(WireClient(server).providers_for('Images/Thumbs')) == [keep.port]
        assert "No response from ServiceProvider: 'Keep'" not in server.log.text()
    finally:
        server.stop()


def test_provider_unregisters_on_sigterm(server):
    p = Provider(server, 'Leaving', 0.4).wait_registered()
    assert p.stop(signal.SIGTERM) == 0
    server.log.wait_for("Unregistered Service 'Images/Thumbs' from 'Leaving'")
    server.log.wait_for('Removed serviceProvider: Leaving')
    p.log.wait_for('unregistered')  # the reader thread may still hold the last line
    assert WireClient(server).providers_for('Images/Thumbs') == expected_answer([])
