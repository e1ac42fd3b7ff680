"""A stand-in provider notices that a restarted server forgot it and registers again."""
import os
import signal

from provider_harness import Provider, Server, WireClient, cli, endpoints_in_order


def test_provider_registers_again_after_a_server_restart(tmp_path):
    server = Server(str(tmp_path)).start()
    provider = Provider(server, 'Faithful', 0.25).wait_registered()
    try:
        first_session = WireClient(server).providers_for('Images/Thumbs')
        assert endpoints_in_order(first_session) == [provider.port]

        server.stop()
        assert server.process.returncode == 0
        restarted = Server(str(tmp_path), port=server.port).start()
        server = restarted
        provider.log.wait_for('the server no longer knows this provider; registering again', 15)
        provider.wait_registered(count=2)
        assert endpoints_in_order(WireClient(server).providers_for('Images/Thumbs')) == [provider.port]
        sessions = [line for line in provider.log.lines if 'registered with session' in line]
        assert len(sessions) == 2 and sessions[0].split()[-4] != sessions[1].split()[-4]

        table = cli(server, 'providers-for', 'Images/Thumbs')
        assert table.returncode == 0 and 'Faithful' in table.stdout
    finally:
        assert provider.stop(signal.SIGTERM) == 0
        server.stop()


def test_cli_answers_refuses_and_cannot_reach_with_distinct_statuses(tmp_path):
    server = Server(str(tmp_path)).start()
    try:
        version = cli(server, 'version')
        assert version.returncode == 0 and version.stdout.strip()
        detailed = cli(server, 'info', 'Detailed')
        assert detailed.returncode == 0 and '<Detailed><ServiceProviders>' in detailed.stdout
    finally:
        server.stop()
    unreachable = cli(server, 'version')
    assert unreachable.returncode == 3 and '1722' in unreachable.stderr
    # Past its memory limit the server refuses new sessions: an answer, not a lost connection.
    starved = Server(str(tmp_path), port=server.port)
    starved.env['PICTORA_MEMORY_LIMIT_MB'] = '1'
    starved.start()
    try:
        refused = cli(starved, 'providers')
        assert refused.returncode == 1 and 'could not open a session' in refused.stderr, refused.stderr
    finally:
        starved.stop()


def test_cli_over_the_local_channel(tmp_path):
    server = Server(str(tmp_path))
    # Authentication on: the server listens only on its local channel.
    config = os.path.join(server.server_dir, 'Pictora.PTSConfig')
    with open(config) as f:
        text = f.read()
    with open(config, 'w') as f:
        f.write(text.replace('<ActivateAuthentication>False', '<ActivateAuthentication>True'))
    server.start()
    try:
        version = cli(server, 'version', pipe='KorvanePictora')
        assert version.returncode == 0, version.stderr
        basic = cli(server, 'info', pipe='KorvanePictora')
        assert basic.returncode == 0 and '<Basic>' in basic.stdout
        assert cli(server, 'version').returncode == 3  # no TCP endpoint
    finally:
        server.stop()
