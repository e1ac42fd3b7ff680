"""The runtime's client (dcerpc_test_client) calling servers written by others."""
import os
import socket
import subprocess
import time

import pytest

from stand_in_server import StandInServer


def call(port, operation, argument, timeout_ms=None):
    program = os.environ.get('DCERPC_TEST_CLIENT')
    if not program:
        pytest.skip('DCERPC_TEST_CLIENT is not set (run through ctest)')
    command = [program, 'ncacn_ip_tcp', '127.0.0.1', str(port), operation, argument]
    if timeout_ms is not None:
        command.append(str(timeout_ms))
    return subprocess.run(command, capture_output=True, text=True, timeout=30, check=True).stdout.strip()


def test_calls_and_fragmented_responses():
    with StandInServer() as server:
        assert call(server.port, 'echo', 'hello') == 'OK 5 echo:hello'
        assert call(server.port, 'fill', '100000') == 'OK 0 same'  # 24 response fragments
        assert call(server.port, 'double', '1.5') == 'OK 0 3.000000'


def test_call_ids_as_windows_peers_use_them():
    # The first request of an association carries the bind's call id.
    with StandInServer() as server:
        assert call(server.port, 'echo3', 'hi') == 'OK 2 echo:hi'
        assert server.call_ids == [1, 1, 2, 3]
    # A server that answers with the bind's call id is understood; one with any other is not.
    with StandInServer('bind_call_id') as server:
        assert call(server.port, 'echo3', 'hi') == 'OK 2 echo:hi'
    with StandInServer('stray_call_id') as server:
        assert call(server.port, 'echo', 'hi') == 'STATUS 1728'


def test_big_endian_responses_are_converted():
    with StandInServer('big_endian') as server:
        assert call(server.port, 'double', '1.5') == 'OK 0 3.000000'


@pytest.mark.parametrize('fault, status', [(0x1C010002, 1745), (0x1C010003, 1717), (0x000006F7, 1783),
                                           (0x1C000012, 1726), (0x1C010014, 1723), (0x1C00001B, 1130), (5, 5),
                                           (0x12345678, 0x12345678)])
def test_faults_map_to_windows_status_numbers(fault, status):
    with StandInServer('fault', fault) as server:
        assert call(server.port, 'ping', '-') == 'STATUS %d' % status


@pytest.mark.parametrize('mode, status', [('nak', 1723), ('reject_if', 1717), ('close', 1726)])
def test_refusals_and_lost_connections(mode, status):
    with StandInServer(mode) as server:
        assert call(server.port, 'echo', 'x') == 'STATUS %d' % status


def test_peer_gone_is_server_unavailable():
    probe = socket.socket()
    probe.bind(('127.0.0.1', 0))
    port = probe.getsockname()[1]
    probe.close()
    assert call(port, 'echo', 'x') == 'STATUS 1722'


def test_silent_peer_times_out():
    with StandInServer('silent') as server:
        started = time.monotonic()
        assert call(server.port, 'echo', 'x', timeout_ms=500) == 'STATUS 1818'
        assert time.monotonic() - started < 5
