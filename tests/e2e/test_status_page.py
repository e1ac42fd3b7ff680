"""The probes, the JSON API and the status page of a real server, the page in headless Chromium."""
import json
import urllib.error
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from server_process import Provider, ServerProcess, free_port


def get(port, path):
    """(HTTP status, the body: decoded when JSON)."""
    try:
        with urllib.request.urlopen('http://127.0.0.1:%d%s' % (port, path), timeout=5) as answer:
            status, body = answer.status, answer.read()
    except urllib.error.HTTPError as refused:
        status, body = refused.code, refused.read()
    return status, json.loads(body) if body.startswith(b'{') else body.decode()


def chromium():
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    for argument in ('--headless', '--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage'):
        options.add_argument(argument)
    options.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
    return webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)


def test_probes_api_and_the_page_follow_a_provider_in_a_browser():
    port = free_port()
    with ServerProcess(key='MetricsEndpoint=127.0.0.1:%d\n' % port) as server:
        server.write_services(('Images/Thumbs', 'Fast;'))
        server.write_configuration()
        server.start()
        assert get(port, '/healthz') == (200, {'status': 'serving'})
        status, ready = get(port, '/readyz')
        assert status == 200 and ready['status'] == 'ready' and all(ready['checks'].values()), ready
        assert get(port, '/api/v1/nothing')[0] == 404
        browser = chromium()
        try:
            browser.get('http://127.0.0.1:%d/' % port)
            WebDriverWait(browser, 10).until(lambda b: 'A single server' in b.find_element(By.ID, 'cluster').text)
            provider = Provider(server, 'Fast', 0.25).wait_registered()
            row = lambda b: b.execute_script("return document.querySelector('#providers tbody').textContent")
            WebDriverWait(browser, 10).until(lambda b: 'Fast' in row(b) and '0.25' in row(b))
            listed = get(port, '/api/v1/providers')[1]['providers']
            assert [(p['name'], p['endpoint'], p['services']) for p in listed] == [
                ('Fast', str(provider.port), ['Images/Thumbs'])], listed
            assert get(port, '/api/v1/sessions')[1]['open'] >= 1
            provider.stop()
            WebDriverWait(browser, 15).until(lambda b: 'Fast' not in row(b))
            errors = [entry for entry in browser.get_log('browser') if entry['level'] == 'SEVERE']
            assert errors == []
        finally:
            browser.quit()
