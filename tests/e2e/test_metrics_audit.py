"""The real server's metrics page after known calls, and the audit line of a management call."""
import os
import pwd
import socket
import urllib.request

import pytest

from server_process import Provider, ServerProcess, cli, free_port, wait_until


def scrape(port):
    """The page's samples: {'name{labels}': value}."""
    with urllib.request.urlopen('http://127.0.0.1:%d/metrics' % port, timeout=5) as answer:
        assert answer.headers['Content-Type'].startswith('text/plain; version=0.0.4')
        lines = answer.read().decode().splitlines()
    return {line.rsplit(' ', 1)[0]: float(line.rsplit(' ', 1)[1]) for line in lines if not line.startswith('#')}


def procedure(page, metric, opnum):
    """The one sample of `metric` for procedure `opnum` (0 when it has none yet)."""
    found = [value for key, value in page.items() if key.startswith(metric + '{') and 'opnum="%d"' % opnum in key]
    assert len(found) <= 1, found
    return found[0] if found else 0


@pytest.fixture
def providers():
    """The providers a test starts, stopped at its end whatever happened."""
    started = []
    yield started
    for provider in started:
        provider.stop()


def test_the_page_counts_calls_and_provider_calls_and_management_calls_are_audited(providers):
    metrics_port = free_port()
    key = 'MetricsEndpoint=127.0.0.1:%d\n' % metrics_port
    with ServerProcess({'PICTORA_TEST_LIVENESS_SECONDS': '1'}, key=key) as server:
        server.write_services(('Images/Thumbs', 'Fast;'))
        server.write_configuration('<RpcCallTimeoutMs>500</RpcCallTimeoutMs>')
        server.start()
        providers.append(Provider(server, 'Fast', 0.2).wait_registered())
        before = scrape(metrics_port)
        for _ in range(3):  # two calls each: the size of the answer, then the answer
            assert cli(server, 'providers-for', 'Images/Thumbs').returncode == 0
        refused = cli(server, 'admin', 'provider', 'config', 'Nope')
        page = scrape(metrics_port)

        assert procedure(before, 'pictora_calls_total', 13) == 0 and procedure(page, 'pictora_calls_total', 13) == 6
        assert procedure(page, 'pictora_call_duration_seconds_count', 13) == 6
        assert [key for key in page if 'opnum="13"' in key and 'le="+Inf"' in key] == [
            'pictora_call_duration_seconds_bucket{interface="8a60fd6c-7ebf-4aee-839c-1df4243d03d2",'
            'interface_name="PictoraServer",opnum="13",procedure="GetServiceProvidersFor",le="+Inf"}']
        assert page['pictora_provider_load_queries_total{outcome="ok"}'] == 6
        assert page['pictora_provider_load_queries_total{outcome="timed_out"}'] == 0
        assert page['pictora_registered_providers'] == 1 and page['pictora_registered_services'] == 1
        assert page['pictora_open_sessions'] >= 1  # the provider's

        # One line per management call: who, from where, which procedure, on what, how it ended.
        assert refused.returncode == 1 and page['pictora_management_refusals_total{status="0x0000dc05"}'] == 1
        assert page['process_open_fds'] > 0 and page['process_resident_memory_bytes'] > 0
        assert page['pictora_build_info{version="1.0.0",interface_version="1.0.0.2"}'] == 1
        user = pwd.getpwuid(os.getuid()).pw_name
        server.log.wait_for(r"management call 34 GetServiceProviderConfigXml on 'Nope' by user '%s' on machine "
                            r"'%s' from 127\.0\.0\.1: refused 00DC05" % (user, socket.gethostname()))
        # A read takes two calls (its size, then the answer) but leaves one line.
        assert cli(server, 'admin', 'config').returncode == 0
        assert server.log.text().count('management call 32 GetServerConfigXml') == 1

        # A provider that never answers: its pings time out and the liveness pass drops it.
        providers.append(Provider(server, 'Mute', 0.5, ['--silent']))
        providers[-1].log.wait_for('registered with session')
        assert wait_until(lambda: scrape(metrics_port)['pictora_providers_dropped_total'] >= 1, 15)
        page = scrape(metrics_port)
        assert page['pictora_provider_pings_total{outcome="timed_out"}'] >= 1
        assert page['pictora_provider_pings_total{outcome="ok"}'] >= 1  # Fast's
