"""The management procedures 25-45 driven by impacket against the real server, with impacket
stand-ins as the providers the service store and the facade call."""
import os
import re
import socket

import pytest

import pictora_wire as w
from pictora_wire import PyProvider
from server_process import ServerProcess, cli, wait_until

HOST = socket.gethostname()
ROOM = 'S' * 4000  # what callers send as status: room for the longest status text
P1_FILE = ('<?xml version="1.0" standalone="yes"?><Pictora><ServiceProvider><Config><HostMachine>127.0.0.1'
           '</HostMachine><Endpoint>%d</Endpoint><State>Off</State></Config></ServiceProvider></Pictora>')


def session_info(machine=HOST, application='ServerManager'):
    return ('<SessionInfo><Application>%s</Application><MachineName>%s</MachineName></SessionInfo>'
            % (application, machine))


class Admin:
    """One connection; `session` is a management session opened from `machine`."""

    def __init__(self, port, machine=HOST):
        self.dce = w.connect(port)
        self.session = self.open(session_info(machine))[1]

    def open(self, info):
        answer = self.call(w.ManagerOpenSession, Info=info, SessionId='x' * 36)
        return answer['Result'], w.unz(answer['SessionId']), w.unz(answer['Status'])

    def call(self, cls, **fields):
        fields.setdefault('Status', ROOM)
        if 'Session' in cls().fields:
            fields.setdefault('Session', self.session)
        return w.call(self.dce, cls, **fields)

    def ok(self, cls, **fields):
        """(result, status text) of a boolean procedure."""
        answer = self.call(cls, **fields)
        return answer['Result'], w.unz(answer['Status'])

    def text(self, cls, **fields):
        """The buffer reply in two steps: the size needed, then exactly that size."""
        need = self.call(cls, Size=0, **fields)['Result']
        assert need > 0, need
        answer = self.call(cls, Size=need, **fields)
        assert answer['Result'] == 0
        return w.buffer_text(answer)


@pytest.fixture(scope='module')
def server():
    with ServerProcess() as s:
        s.write_services(('Maps', 'P1;P2;'))
        providers = {name: PyProvider(load=0.5) for name in ('P1', 'P2')}
        s.write_server_file('P1.PTPConfig', P1_FILE % providers['P1'].port)
        # "admin1" on the command line joins the configured allow list.
        s.start(args=['-console', 'admin1', str(s.port)])
        for name, provider in providers.items():
            w.register(s.port, name, provider.port, services=('Maps',))
        s.providers = providers
        yield s
        for provider in providers.values():
            provider.close()
        s.send_keys('q')
        assert s.finish() == 0


@pytest.fixture
def admin(server):
    session = Admin(server.port)
    yield session
    session.dce.disconnect()


def read(server, name):
    with open(os.path.join(server.server_folder, name)) as f:
        return f.read()


def test_sessions_follow_the_allow_list(server, admin):
    assert re.fullmatch(r'[0-9a-f-]{36}', admin.session)
    assert admin.open(session_info('ADMIN1'))[0] == 1  # merged from the command line
    result, _, status = admin.open(session_info('intruder'))
    assert result == 0 and '00DC01' in status and 'You are not in the allow list' in status
    result, _, status = admin.open(session_info(application='Viewer'))
    assert result == 0 and 'Not a valid session' in status
    # Closing always succeeds; a closed session is invalid afterwards.
    assert admin.ok(w.ManagerCloseSession, Session='never-opened')[0] == 1
    assert admin.ok(w.ManagerCloseSession)[0] == 1
    assert '00DC03' in admin.ok(w.StartService, Text='Maps')[1]


UNKNOWN_SESSION_CALLS = [
    (w.GetServerInfo, {'Size': 100}), (w.CreateServiceProvider, {'Machine': HOST, 'Endpoint': '1', 'Name': 'X'}),
    (w.StartServiceProvider, {'Text': 'X'}), (w.StopServiceProvider, {'Text': 'X'}),
    (w.GetServerConfigXml, {'Size': 100}), (w.UpdateServerConfigXml, {'Text': '<Pictora/>'}),
    (w.GetServiceProviderConfigXml, {'Text': 'P1', 'Size': 100}),
    (w.UpdateServiceProviderConfigXml, {'Text': 'P1', 'Xml': '<Config/>'}),
    (w.GetServiceProvidersInfo, {'Size': 100}), (w.GetServicesXml, {'Size': 100}),
    (w.UpdateServicesXml, {'Text': '<Pictora/>'}),
    (w.ManagerAddService, {'Source': 's', 'Name': 'n', 'Properties': '', 'Providers': ''}),
    (w.ManagerRemoveService, {'Text': 'Maps', 'Providers': ''}), (w.StartService, {'Text': 'Maps'}),
    (w.StopService, {'Text': 'Maps'}), (w.GetServiceName, {'Text': 'Maps', 'Name': 'kept'}),
    (w.RefreshService, {'Text': 'Maps'}), (w.RefreshAllServices, {}),
]


@pytest.mark.parametrize('cls,fields', UNKNOWN_SESSION_CALLS, ids=[c.__name__ for c, _ in UNKNOWN_SESSION_CALLS])
def test_every_procedure_refuses_an_unknown_session(server, admin, cls, fields):
    before = {name: read(server, name) for name in ('Pictora.Services', 'Pictora.PTSConfig', 'P1.PTPConfig')}
    answer = admin.call(cls, Session='00000000-0000-0000-0000-000000000000', **fields)
    assert answer['Result'] in (0, -1)
    assert "The current session '00000000-0000-0000-0000-000000000000' is invalid." in w.unz(answer['Status'])
    assert before == {name: read(server, name) for name in before}


def test_service_store(server, admin):
    p1, p2 = server.providers['P1'], server.providers['P2']
    assert admin.ok(w.ManagerAddService, Source='src-new', Name='Imaging\\ New/Thing', Properties='<Application>A'
                    '</Application>', Providers='P1;P2')[0] == 1
    assert '<Name>Imaging/New/Thing</Name><Source>src-new</Source><State>Off</State>' in read(server, 'Pictora.Services')
    assert not p1.commands  # a new service starts switched off
    result, status = admin.ok(w.ManagerAddService, Source='other', Name='IMAGING/NEW/THING', Properties='',
                              Providers='')
    assert result == 0 and '00DD0C' in status and "already in use by service 'src-new" in status

    assert admin.ok(w.StartService, Text='Imaging/New/Thing')[0] == 1
    for provider in (p1, p2):
        started = provider.commanded('ProviderStartService')
        assert [(w.unz(r['Caller']), w.unz(r['Name'])) for r in started] == [('Pictora', 'Imaging/New/Thing')]
    assert admin.ok(w.StopService, Text='imaging/new/thing')[0] == 1
    assert admin.ok(w.RefreshService, Text='Maps')[0] == 1
    assert admin.ok(w.RefreshAllServices)[0] == 1  # P1 is the one configured provider
    assert wait_until(lambda: p1.commanded('ProviderRefreshAllServices'), 5)
    assert len(p2.commanded('ProviderStopService')) == 1
    assert '<Source>src</Source>' in w.unz(p2.commanded('ProviderRefreshService')[0]['Xml'])

    answer = admin.call(w.GetServiceName, Text='maps', Name='x' * 20)
    assert (answer['Result'], w.unz(answer['Name'])) == (1, 'Maps')
    answer = admin.call(w.GetServiceName, Text='Nothing', Name='kept')
    assert (answer['Result'], w.unz(answer['Name'])) == (0, 'kept') and 'is not registered' in w.unz(answer['Status'])

    assert admin.ok(w.ManagerRemoveService, Text='Imaging\\New\\Thing', Providers='P2')[0] == 1
    assert '<ServiceProviders>P1</ServiceProviders>' in read(server, 'Pictora.Services')
    assert admin.ok(w.ManagerRemoveService, Text='Imaging/New/Thing', Providers='P1')[0] == 1
    assert 'New/Thing' not in read(server, 'Pictora.Services')

    text = admin.text(w.GetServicesXml)
    assert text.startswith('<?xml version="1.0" standalone="yes"?><Pictora>') and '<Name>Maps</Name>' in text
    before = read(server, 'Pictora.Services')
    result, status = admin.ok(w.UpdateServicesXml, Text='<Pictora><Services>')
    assert result == 0 and '00DD04' in status and before == read(server, 'Pictora.Services')
    assert admin.ok(w.UpdateServicesXml, Text=text)[0] == 1


def test_provider_administration(server, admin):
    assert admin.ok(w.CreateServiceProvider, Machine=HOST, Endpoint='7100', Name='Render1')[0] == 1
    created = read(server, 'Render1.PTPConfig')
    for value in ('<Endpoint>7100</Endpoint>', '<State>Off</State>', '<ExternalIP>%s</ExternalIP>' % HOST,
                  '<AutoSyncInterval>3600</AutoSyncInterval>'):
        assert value in created
    refusals = [
        ({'Machine': HOST, 'Endpoint': '7101', 'Name': 'Render1'}, "The ServiceProvider 'Render1' already exists."),
        ({'Machine': 'elsewhere', 'Endpoint': '7100', 'Name': 'Render3'},
         "You cannot create a service provider on 'elsewhere'"),
        ({'Machine': HOST, 'Endpoint': '7100', 'Name': '../Escape'}, 'refused'),
    ]
    for fields, message in refusals:
        result, status = admin.ok(w.CreateServiceProvider, **fields)
        assert result == 0 and message in status, status

    config = admin.text(w.GetServiceProviderConfigXml, Text='Render1')
    assert config.startswith('<?xml') and re.search(r'<ServerHost>.*</ServerHost>\n<ServerPort>%d</ServerPort>'
                                                    % server.port, config)
    assert '<ServerHost>' not in read(server, 'Render1.PTPConfig')
    assert admin.ok(w.UpdateServiceProviderConfigXml, Text='P1', Xml='<Config><NumCPU>8</NumCPU></Config>')[0] == 1
    assert '<NumCPU>8</NumCPU>' in read(server, 'P1.PTPConfig')
    assert wait_until(lambda: server.providers['P1'].commanded('ProviderRefreshConfiguration'), 5)

    # No start mechanism: the start fails and the provider stays off.
    result, status = admin.ok(w.StartServiceProvider, Text='Render1')
    assert result == 0 and '00DB02' in status
    report = admin.text(w.GetServerInfo)
    assert re.search(r'<Name>Render1</Name>.*?<State>Off</State>\n<Status></Status>', report, re.S)
    assert re.search(r'<Name>P1</Name>.*?<State>On</State>', report, re.S)
    result, status = admin.ok(w.StopServiceProvider, Text='Render1')  # not registered with the core
    assert result == 0 and '003D08' in status
    assert admin.ok(w.DeleteServiceProvider, Text='Render1')[0] == 1
    assert not os.path.exists(os.path.join(server.server_folder, 'Render1.PTPConfig'))
    assert '00DB03' in admin.ok(w.DeleteServiceProvider, Text='Render1')[1]


def test_server_configuration(server, admin, tmp_path):
    config = admin.text(w.GetServerConfigXml)
    assert config.startswith('<?xml') and '<Endpoint>%d</Endpoint>' % server.port in config
    before = read(server, 'Pictora.PTSConfig')
    update = '<Pictora><Server><Config><LogsFolder>%s</LogsFolder><Extra>1</Extra></Config></Server></Pictora>'
    # Neither bad XML nor a log folder outside the home folder changes the file.
    for text, code in (('<Pictora><Config>', '00DC04'), (update % tmp_path, 'lies outside the server')):
        result, status = admin.ok(w.UpdateServerConfigXml, Text=text)
        assert result == 0 and code in status and before == read(server, 'Pictora.PTSConfig')
    logs = os.path.join(os.path.dirname(server.server_folder), 'Elsewhere')
    assert admin.ok(w.UpdateServerConfigXml, Text=update % logs)[0] == 1
    assert '<Extra>1</Extra>' in read(server, 'Pictora.PTSConfig')
    # The server takes the new log folder at once: its log moves into the folder's Server sub-folder.
    w.providers_for(server.port, 'Maps')
    assert wait_until(lambda: os.path.isdir(os.path.join(logs, 'Server')) and os.listdir(os.path.join(logs, 'Server')), 5)
