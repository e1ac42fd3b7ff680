import os
import signal
import subprocess
import sys
import tempfile
import types

import pytest

sys.path.insert(0, os.path.dirname(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(__file__), '..', '..', 'support'))

PIPE_NAME = 'dcerpc-interop'


@pytest.fixture(autouse=True)
def time_limit():
    """impacket spins forever on a peer that closes mid-PDU: bound every test."""
    def expire(signum, frame):
        raise TimeoutError('test took too long')
    previous = signal.signal(signal.SIGALRM, expire)
    signal.alarm(60)
    yield
    signal.alarm(0)
    signal.signal(signal.SIGALRM, previous)


@pytest.fixture(scope='module')
def server():
    program = os.environ.get('DCERPC_TEST_SERVER')
    if not program:
        pytest.skip('DCERPC_TEST_SERVER is not set (run through ctest)')
    with tempfile.TemporaryDirectory() as folder:
        env = dict(os.environ, PICTORA_PIPE_DIR=folder)
        process = subprocess.Popen([program, PIPE_NAME], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                   env=env, text=True)
        line = process.stdout.readline().split()
        assert line and line[0] == 'PORT', 'test server did not start'
        yield types.SimpleNamespace(port=int(line[1]), pipe_path=os.path.join(folder, PIPE_NAME))
        process.stdin.close()
        assert process.wait(timeout=30) == 0
