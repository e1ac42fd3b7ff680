"""pictora-cli's admin commands against the real server and a stand-in provider: each command
reaches the server in a management session of its own and prints the answer, a refusal or the
server's document."""
import re

import pytest

from server_process import Provider, ServerProcess, cli


@pytest.fixture(scope='module')
def server():
    with ServerProcess() as s:
        s.write_services('Images/Thumbs')
        s.start()
        s.provider = Provider(s, 'Idle', 0.1).wait_registered()
        yield s
        s.provider.stop()


def admin(server, *words):
    return cli(server, 'admin', *words)


def test_a_service_added_and_started_reaches_its_provider(server):
    added = admin(server, 'service', 'add', 'Images/Big', '--source', 'demo', '--providers', 'Idle')
    assert (added.returncode, added.stdout) == (0, "service 'Images/Big' added\n"), added.stderr
    assert '<Name>Images/Big</Name><Source>demo</Source><State>Off</State>' in admin(server, 'services').stdout
    assert admin(server, 'service', 'start', 'Images/Big').stdout == "service 'Images/Big' started\n"
    server.provider.log.wait_for(r"start service 'Images/Big' from 'demo'")

    assert admin(server, 'provider', 'create', 'Render1', '--port', '7100').returncode == 0
    config = admin(server, 'provider', 'config', 'Render1')
    assert config.returncode == 0 and re.search(r'<Endpoint>7100</Endpoint>.*<State>Off</State>', config.stdout, re.S)
    report = admin(server, 'info').stdout
    assert re.search(r'^Idle +127\.0\.0\.1 +%d +On +0\.1$' % server.provider.port, report, re.M), report
    assert re.search(r'^Render1 +\S+ +7100 +Off +-$', report, re.M), report
    assert re.search(r'^Images/Big +On +Idle ', report, re.M), report
    assert admin(server, 'info', '--xml').stdout.startswith('<Pictora><Server><Info>')

    assert admin(server, 'service', 'stop', 'Images/Big').returncode == 0
    server.provider.log.wait_for(r"stop service 'Images/Big'")


def test_a_refusal_exits_1_with_readable_status_lines(server):
    refused = admin(server, 'service', 'start', 'No/Such')
    assert (refused.returncode, refused.stdout) == (1, '')
    assert refused.stderr == ("the server refused:\n[ServiceManager.StartService : 00DD0D] Error: Failed to start "
                              "service. Service 'No/Such' does not exist on the server.\n")
