"""The server's procedures 0-24, 46 and 47 on the wire, called by impacket against the real
server process (console mode, TCP on a free port)."""
import pytest

import pictora_wire as w
from server_process import ServerProcess

ERR_PLACEHOLDER = 'E' * 4000          # callers send room for the longest error text
KEEP = 'sent-by-caller'               # an in/out text that must come back untouched
VIEWER = '<SessionInfo><Application>Viewer</Application><MachineName>ws1</MachineName></SessionInfo>'
PROVIDER_CONFIG = ('<?xml version="1.0" standalone="yes"?><Pictora><ServiceProvider><Config>'
                   '<Endpoint>7001</Endpoint><State>Off</State></Config></ServiceProvider></Pictora>')
SERVICES = ('<Service><Name>Maps</Name><Source>src-maps</Source><State>On</State>'
            '<ServiceProviders>P1;</ServiceProviders></Service>\n'
            '<Service><Name>Dormant</Name><Source>src-d</Source><State>Off</State>'
            '<ServiceProviders>P1</ServiceProviders></Service>\n'
            '<Service><Name>Elsewhere</Name><Source>src-e</Source><State>On</State>'
            '<ServiceProviders>P2</ServiceProviders></Service>\n')


def chars(text):
    return [bytes([b]) for b in text.encode('latin-1')]


def call(dce, request):
    return dce.request(request, checkError=False)


def provider_xml(endpoint='1'):
    return ('<ServiceProvider><Config><HostMachine>127.0.0.1</HostMachine><Endpoint>%s</Endpoint>'
            '</Config><Dynamic><Load>0</Load></Dynamic></ServiceProvider>' % endpoint)


@pytest.fixture(scope='module')
def server():
    with ServerProcess() as s:
        s.write_services(SERVICES)
        s.write_server_file('P1.PTPConfig', PROVIDER_CONFIG)
        s.start()
        yield s
        s.send_keys('q')
        assert s.finish() == 0


@pytest.fixture
def dce(server):
    connection = w.connect_tcp(server.port)
    yield connection
    connection.disconnect()


def open_session(dce, info=VIEWER, placeholder='x' * 36, err=ERR_PLACEHOLDER):
    req = w.OpenSession()
    req['Info'] = w.z(info)
    req['SessionId'] = w.z(placeholder)
    req['ErrText'] = w.z(err)
    return call(dce, req)


def session(dce):
    resp = open_session(dce)
    assert resp['Result'] == 1
    return w.unz(resp['SessionId'])


def name_data(cls, sid, name, text, err=ERR_PLACEHOLDER, nul=True):
    req = cls()
    data = text + ('\x00' if nul else '')
    req['Session'] = w.z(sid)
    req['Name'] = w.z(name)
    req['Length'] = len(data)
    req['Data'] = chars(data)
    req['ErrText'] = w.z(err)
    return req


def name_buffer(cls, sid, name, size, err=KEEP):
    req = cls()
    req['Session'] = w.z(sid)
    if 'Name' in req.fields:
        req['Name'] = w.z(name)
    req['Size'] = size
    req['ErrText'] = w.z(err)
    return req


def session_check(dce, sid):
    req = w.GetSession()
    req['Text'] = w.z(sid)
    return call(dce, req)['Result']


def close_session(dce, sid):
    req = w.CloseSession()
    req['Text'] = w.z(sid)
    return call(dce, req)['Result']


def buffer_reply(dce, request):
    """The two-step buffer reply: ask with size 0, then with exactly the size needed."""
    request['Size'] = 0
    first = call(dce, request)
    need = first['Result']
    assert need > 0 and first['Buffer'] == []
    request['Size'] = need
    second = call(dce, request)
    assert second['Result'] == 0
    raw = b''.join(second['Buffer'])
    assert len(raw) == need and raw[-1:] == b'\x00'
    return raw[:-1].decode('latin-1')


def test_version_is_cut_to_the_placeholder_sent(dce):
    for placeholder, expected in (('x' * 40, '1.0.0.2'), ('x' * 7, '1.0.0.2'), ('abc', '1.0')):
        req = w.GetVersion()
        req['Version'] = w.z(placeholder)
        resp = call(dce, req)
        assert (w.unz(resp['Version']), resp['Result']) == (expected, 1)


def test_session_opened_checked_and_closed(dce):
    resp = open_session(dce, err=KEEP)
    sid = w.unz(resp['SessionId'])
    assert resp['Result'] == 1 and len(sid) == 36 and sid == sid.lower()
    assert w.unz(resp['ErrText']) == KEEP  # written only on failure
    assert session_check(dce, sid) == 1
    assert close_session(dce, sid) == 1
    assert session_check(dce, sid) == 0
    assert close_session(dce, sid) == 0


def test_session_identifier_longer_than_its_placeholder_is_cut(dce):
    resp = open_session(dce, placeholder='abcd')
    assert resp['Result'] == 1 and len(w.unz(resp['SessionId'])) == 4


def test_provider_and_services_registered_through_the_wire(dce):
    sid = session(dce)
    resp = call(dce, name_data(w.AddServiceProvider, sid, 'P1', provider_xml(), err=KEEP))
    assert (resp['Result'], w.unz(resp['ErrText'])) == (1, KEEP)
    # Registering twice fails and says why.
    resp = call(dce, name_data(w.AddServiceProvider, sid, 'P1', provider_xml()))
    assert resp['Result'] == 0 and 'already registered' in w.unz(resp['ErrText'])

    services = '<Pictora><ImageServices><Service><Name>Maps</Name></Service></ImageServices></Pictora>'
    resp = call(dce, name_data(w.AddServices, sid, 'P1', services, err=KEEP))
    assert (resp['Result'], w.unz(resp['ErrText'])) == (1, KEEP)
    listed = buffer_reply(dce, name_buffer(w.GetServices, sid, 'P1', 0))
    assert '<ImageService>Maps</ImageService>' in listed
    providers = buffer_reply(dce, name_buffer(w.GetServiceProviders, sid, '', 0))
    assert '<ServiceProvider>P1</ServiceProvider>' in providers
    # Where Maps runs (the provider is not reachable, so its load is unknown, but it is listed).
    where = buffer_reply(dce, name_buffer(w.GetServiceProvidersFor, sid, 'Maps', 0))
    assert '<HostMachine>127.0.0.1</HostMachine>' in where and '<Endpoint>1</Endpoint>' in where
    info = buffer_reply(dce, name_buffer(w.GetServiceProviderInfo, sid, 'P1', 0))
    assert info.startswith('<ServiceProvider>')

    resp = call(dce, name_data(w.UpdateServiceProviderInfo, sid, 'P1', provider_xml('2'), err=KEEP))
    assert (resp['Result'], w.unz(resp['ErrText'])) == (1, KEEP)
    resp = call(dce, name_data(w.RemoveServices, sid, 'P1', services, err=KEEP))
    assert (resp['Result'], w.unz(resp['ErrText'])) == (1, KEEP)
    assert 'Maps' not in buffer_reply(dce, name_buffer(w.GetServices, sid, 'P1', 0))

    req = w.RemoveServiceProvider()
    req['Session'], req['Name'], req['ErrText'] = w.z(sid), w.z('P1'), w.z(KEEP)
    resp = call(dce, req)
    assert (resp['Result'], w.unz(resp['ErrText'])) == (1, KEEP)
    resp = call(dce, req)  # gone: fails, but procedure 12 never writes its error text
    assert (resp['Result'], w.unz(resp['ErrText'])) == (0, KEEP)
    close_session(dce, sid)


def test_provider_data_without_nul_is_taken_whole(dce):
    sid = session(dce)
    resp = call(dce, name_data(w.AddServiceProvider, sid, 'NoNul', provider_xml(), nul=False))
    assert resp['Result'] == 1
    req = w.RemoveServiceProvider()
    req['Session'], req['Name'], req['ErrText'] = w.z(sid), w.z('NoNul'), w.z(KEEP)
    assert call(dce, req)['Result'] == 1


def test_provider_services_and_configuration_without_session(dce):
    services = buffer_reply(dce, name_buffer(w.GetServicesForServiceProvider, 'ignored', 'p1', 0))
    assert services.startswith('<Pictora><Services>') and 'Maps' in services
    assert 'Dormant' not in services and 'Elsewhere' not in services
    config = buffer_reply(dce, name_buffer(w.GetServiceProviderConfiguration, '', 'P1', 0))
    assert config.startswith('<?xml') and '<Endpoint>7001</Endpoint>' in config
    # The configuration of an unknown provider is a failure with an empty error text.
    resp = call(dce, name_buffer(w.GetServiceProviderConfiguration, '', 'Nobody', 100))
    assert (resp['Result'], w.unz(resp['ErrText'])) == (-1, '')


def test_buffer_reply_at_size_zero_exact_and_one_short(dce):
    sid = session(dce)
    req = name_buffer(w.GetInfo, sid, 'Basic', 0)
    report = buffer_reply(dce, req)
    assert report
    req['Size'] = len(report)  # one byte short of the NUL
    resp = call(dce, req)
    assert resp['Result'] == len(report) + 1
    close_session(dce, sid)


def assert_cut(text, maximum):
    head = (maximum - 3) - (maximum - 3) // 2
    assert len(text) == maximum
    assert text[head:head + 3] == '...'
    assert text.startswith('<Status>') and text.rstrip().endswith('</Status>')


def test_long_error_text_is_cut_in_the_middle_at_4000(dce, server):
    server.write_configuration('<Endpoint>%d</Endpoint><LicenseManager><ServerManagerAllowList>'
                               'admin1</ServerManagerAllowList></LicenseManager>' % server.port)
    machine = 'M' * 5000
    info = ('<SessionInfo><Application>ServerManager</Application><MachineName>%s</MachineName>'
            '</SessionInfo>' % machine)
    resp = open_session(dce, info=info, placeholder=KEEP)
    assert resp['Result'] == 0
    assert w.unz(resp['SessionId']) == KEEP
    error = w.unz(resp['ErrText'])
    assert_cut(error, 4000)
    assert "The application 'ServerManager' running" in error[:1999]


def test_provider_error_texts(dce):
    sid = session(dce)
    # A second registration fails with a message quoting the 5000-character name, cut at 3999.
    name = 'N' * 2500 + '/' + 'N' * 2500
    assert call(dce, name_data(w.AddServiceProvider, sid, name, provider_xml()))['Result'] == 1
    resp = call(dce, name_data(w.AddServiceProvider, sid, name, provider_xml()))
    assert resp['Result'] == 0
    assert_cut(w.unz(resp['ErrText']), 3999)
    # Updates and service lists of a provider never registered fail with an empty error text.
    for cls in (w.UpdateServiceProviderInfo, w.AddServices, w.RemoveServices):
        resp = call(dce, name_data(cls, sid, 'Nobody', '<Pictora><ImageServices/></Pictora>'))
        assert (resp['Result'], w.unz(resp['ErrText'])) == (0, ''), cls.__name__
    close_session(dce, sid)


UNKNOWN = '00000000-0000-0000-0000-000000000000'


def unknown_session_requests():
    notify = w.NotifySession()
    notify['Session'], notify['Flag'], notify['Text'], notify['ErrText'] = (
        w.z(UNKNOWN), 1, w.z('t'), w.z(KEEP))
    remove = w.RemoveServiceProvider()
    remove['Session'], remove['Name'], remove['ErrText'] = w.z(UNKNOWN), w.z('P1'), w.z(KEEP)
    providers = w.GetServiceProviders()
    providers['Session'], providers['Size'], providers['ErrText'] = w.z(UNKNOWN), 50, w.z(KEEP)
    return [
        (notify, 0),
        (name_data(w.AddServiceProvider, UNKNOWN, 'P1', provider_xml(), err=KEEP), 0),
        (remove, 0),
        (name_buffer(w.GetServiceProvidersFor, UNKNOWN, 'Maps', 50), -1),
        (name_buffer(w.GetServiceProviderInfo, UNKNOWN, 'P1', 50), -1),
        (name_data(w.UpdateServiceProviderInfo, UNKNOWN, 'P1', provider_xml(), err=KEEP), 0),
        (name_data(w.AddServices, UNKNOWN, 'P1', '<x/>', err=KEEP), 0),
        (name_data(w.RemoveServices, UNKNOWN, 'P1', '<x/>', err=KEEP), 0),
        (name_buffer(w.GetInfo, UNKNOWN, 'Basic', 50), -1),
        (providers, -1),
        (name_buffer(w.GetServices, UNKNOWN, 'P1', 50), -1),
    ]


def test_unknown_session_touches_no_out_parameter(dce):
    for request, result in unknown_session_requests():
        resp = call(dce, request)
        name = type(request).__name__
        assert resp['Result'] == result, name
        assert w.unz(resp['ErrText']) == KEEP, name
        if 'Buffer' in resp.fields:
            assert b''.join(resp['Buffer']) == b'\x00' * 50, name


def test_reserved_procedures_answer_their_fixed_results(dce):
    for cls in (w.Reserved1, w.Reserved3):
        req = cls()
        req['Text'] = w.z('anything')
        assert call(dce, req)['Result'] == 1
    req = w.Reserved2()
    req['Text'], req['In'], req['InLength'], req['OutLength'] = w.z('t'), chars('abc'), 3, 5
    resp = call(dce, req)
    assert (resp['Result'], resp['OutLength'], b''.join(resp['Out'])) == (1, 5, b'\x00' * 5)
    for cls, result in ((w.Reserved20, 0), (w.Reserved22, 1), (w.Reserved23, 1)):
        req = cls()
        req['Session'], req['Size'], req['ErrText'] = w.z(UNKNOWN), 8, w.z(KEEP)
        if 'Name' in req.fields:
            req['Name'] = w.z('n')
        resp = call(dce, req)
        assert (resp['Result'], w.unz(resp['ErrText'])) == (result, KEEP)
        assert b''.join(resp['Buffer']) == b'\x00' * 8


@pytest.mark.parametrize('opnum', [5, 6, 7, 48, 200])
def test_procedure_numbers_not_served_are_out_of_range(dce, opnum):
    with pytest.raises(Exception) as failure:
        dce.call(opnum, b'')
        dce.recv()
    assert 'nca_s_op_rng_error' in str(failure.value)
    req = w.GetVersion()  # the association survives the fault
    req['Version'] = w.z('x' * 10)
    assert call(dce, req)['Result'] == 1


def test_at_its_memory_limit_the_server_refuses_new_sessions_and_keeps_answering():
    with ServerProcess(extra_env={'PICTORA_MEMORY_LIMIT_MB': '1'}) as s:  # below any real process
        s.write_services(SERVICES)
        s.start()
        dce = w.connect_tcp(s.port)
        for _ in range(3):
            resp = open_session(dce)
            assert resp['Result'] == 0
            assert 'Not enough server storage' in w.unz(resp['ErrText'])
            assert '<ID>00046A</ID>' in w.unz(resp['ErrText'])  # 1130
        req = w.GetVersion()
        req['Version'] = w.z('x' * 40)
        assert call(dce, req)['Result'] == 1
        dce.disconnect()
        s.send_keys('q')
        assert s.finish() == 0
        assert s.stderr.count('Not enough server storage') == 1
