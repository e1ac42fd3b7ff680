"""SIGKILL at random moments while management calls rewrite the services file, the server
configuration and a provider file: every file is whole and well formed afterwards, the old
version or a new one, and the server starts again on it."""
import os
import random
import re
import signal
import threading
import time
import xml.etree.ElementTree as ElementTree

import pictora_wire as w
from server_process import ServerProcess
from test_management_wire import Admin

KILLS = int(os.environ.get("KILLS", 50))
PROVIDER = ('<?xml version="1.0" standalone="yes"?><Pictora><ServiceProvider><Config><HostMachine>h</HostMachine>'
            '<Endpoint>1</Endpoint><State>Off</State><NumCPU>0</NumCPU></Config></ServiceProvider></Pictora>')
SERVICES = ('<?xml version="1.0" standalone="yes"?><Pictora><Server><Services><Service><Name>S</Name>'
            '<Source>%d</Source></Service></Services></Server></Pictora>')
# file -> the number each version carries
VERSIONS = {
    'Pictora.Services': r'<Source>(\d+)</Source>',
    'Pictora.PTSConfig': r'<Round>(\d+)</Round>',
    'P.PTPConfig': r'<NumCPU>(\d+)</NumCPU>',
}


def rewrite_until_killed(admin, stop):
    """Rewrites all three files with rising numbers until the server goes away."""
    try:
        number = 0
        while not stop.is_set():
            number += 1
            admin.ok(w.UpdateServicesXml, Text=SERVICES % number)
            admin.ok(w.UpdateServerConfigXml, Text='<Pictora><Server><Config><Round>%d</Round></Config></Server>'
                                                   '</Pictora>' % number)
            admin.ok(w.UpdateServiceProviderConfigXml, Text='P', Xml='<Config><NumCPU>%d</NumCPU></Config>' % number)
    except Exception:  # the connection dies with the server
        pass


def test_files_stay_whole_through_kills():
    rng = random.Random(20261206)
    with ServerProcess() as s:
        s.write_server_file('P.PTPConfig', PROVIDER)
        s.write_server_file('Pictora.Services', SERVICES % 0)
        highest = {name: 0 for name in VERSIONS}
        for _ in range(KILLS):
            s.start()  # fails the test when the server cannot start on what the last kill left
            assert not [name for name in os.listdir(s.server_folder) if name.startswith('.')]  # no temporaries
            stop, admin = threading.Event(), Admin(s.port)
            writer = threading.Thread(target=rewrite_until_killed, args=(admin, stop))
            writer.start()
            time.sleep(rng.uniform(0.0, 0.25))
            s.process.send_signal(signal.SIGKILL)
            s.finish()
            stop.set()
            # impacket keeps reading a socket its peer closed: wake it with an error instead.
            admin.dce.get_rpc_transport().get_socket().close()
            writer.join()
            for name, pattern in VERSIONS.items():
                with open(os.path.join(s.server_folder, name)) as f:
                    text = f.read()
                ElementTree.fromstring(text)  # whole and well formed
                found = re.search(pattern, text)
                version = int(found.group(1)) if found else 0
                assert found or name == 'Pictora.PTSConfig', text
                highest[name] = max(highest[name], version)
        # The kills did land while files were being rewritten.
        assert all(highest.values()), highest
