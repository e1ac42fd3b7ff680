"""pictora-cli's admin commands against the real server and a stand-in provider: the commands
reach the server, which changes what they say, and its answers come back as tables, documents
and readable refusals."""
import re

from server_process import Provider, ServerProcess, cli


def admin(server, *words):
    done = cli(server, 'admin', *words)
    assert done.returncode == 0, done.stderr
    return done.stdout


def test_admin_commands_drive_the_server_and_its_provider():
    with ServerProcess() as server:
        server.write_services('Images/Thumbs')
        provider = Provider(server.start(), 'Idle', 0.1).wait_registered()
        try:
            admin(server, 'service', 'add', 'Images/Big', '--source', 'demo', '--providers', 'Idle')
            assert '<Name>Images/Big</Name><Source>demo</Source><State>Off</State>' in admin(server, 'services')
            admin(server, 'service', 'start', 'Images/Big')
            provider.log.wait_for(r"start service 'Images/Big' from 'demo'")
            admin(server, 'provider', 'create', 'Render1', '--port', '7100')
            config = admin(server, 'provider', 'config', 'Render1')
            assert re.search(r'<Endpoint>7100</Endpoint>.*<State>Off</State>', config, re.S), config
            report = admin(server, 'info')
            assert re.search(r'^Idle +127\.0\.0\.1 +%d +On +0\.1$' % provider.port, report, re.M), report
            assert re.search(r'^Render1 .* 7100 +Off ', report, re.M), report
            assert admin(server, 'info', '--xml').startswith('<Pictora><Server><Info>')
            admin(server, 'service', 'stop', 'Images/Big')
            provider.log.wait_for(r"stop service 'Images/Big'")

            refused = cli(server, 'admin', 'service', 'start', 'No/Such')
            assert (refused.returncode, refused.stderr) == (1, (
                "the server refused:\n[ServiceManager.StartService : 00DD0D] Error: Failed to start service. "
                "Service 'No/Such' does not exist on the server.\n"))
        finally:
            provider.stop()
