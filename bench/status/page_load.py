"""The status page's and the JSON API's load time with many providers, against a real server:
    PICTORA_BIN_DIR=build/rel/bin /usr/bin/python3 bench/status/page_load.py [PROVIDERS] [SERVICES] [ROUNDS]
Registers PROVIDERS providers (1,000 by default) each running SERVICES services (100) over the
wire, all at one stand-in provider's endpoint (which answers the liveness pass), then times
GET /api/v1/providers and /api/v1/services, and headless Chromium loading "/" until its providers'
table has every row. Each round waits out the documents' one-second reuse, so each is built anew."""
import os
import statistics
import sys
import time
import urllib.request

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, '..', '..', 'tests', 'e2e'))

import pictora_wire as w  # noqa: E402
from pictora_wire import PyProvider  # noqa: E402
from server_process import ServerProcess, free_port  # noqa: E402
from test_status_page import chromium  # noqa: E402


def main(providers=1000, services=100, rounds=5):
    names = ['Folder/Service%03d' % s for s in range(services)]
    port = free_port()
    alive = PyProvider()
    with ServerProcess(key='MetricsEndpoint=127.0.0.1:%d\n' % port) as server:
        server.write_services(*names)
        server.write_configuration()
        server.start()
        began = time.monotonic()
        dce = w.connect(server.port, timeout=60)
        sid = w.session(dce, info='<SessionInfo><Application>PictoraProvider</Application></SessionInfo>')
        for p in range(providers):
            name = 'Provider%04d' % p
            assert w.name_data(dce, w.AddServiceProvider, sid, name, w.provider_xml(alive.port, p / providers, name))[
                'Result'] == 1
            assert w.name_data(dce, w.AddServices, sid, name, w.services_xml(*names))['Result'] == 1
        print('registered %d providers with %d services each in %.1f s' % (providers, services,
                                                                          time.monotonic() - began))
        times = {'providers': [], 'services': [], 'page': []}
        sizes = {}
        browser = chromium()
        try:
            for _ in range(rounds):
                for document in ('providers', 'services'):
                    time.sleep(1.1)
                    start = time.monotonic()
                    with urllib.request.urlopen('http://127.0.0.1:%d/api/v1/%s' % (port, document), timeout=30) as a:
                        sizes[document] = len(a.read())
                    times[document].append(time.monotonic() - start)
                time.sleep(1.1)
                start = time.monotonic()
                browser.get('http://127.0.0.1:%d/' % port)
                rows = "return document.querySelector('#providers tbody').rows.length"
                while browser.execute_script(rows) < providers:
                    time.sleep(0.01)
                times['page'].append(time.monotonic() - start)
            severe = [e for e in browser.get_log('browser') if e['level'] == 'SEVERE']
        finally:
            browser.quit()
            dce.disconnect()
            alive.close()
        for what, values in times.items():
            print('%-9s median %6.0f ms  (min %.0f, max %.0f over %d)%s' % (
                what, 1000 * statistics.median(values), 1000 * min(values), 1000 * max(values), len(values),
                '  %d bytes' % sizes[what] if what in sizes else ''))
        print('console errors: %d' % len(severe))


if __name__ == '__main__':
    main(*(int(a) for a in sys.argv[1:]))
