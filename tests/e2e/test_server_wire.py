"""The server's procedures 0-24, 46 and 47 on the wire, called by impacket against the real
server process (console mode, TCP on a free port). What the core answers is proven under
tests/servercore; these prove what each procedure writes back, and what it leaves alone."""
import pytest

import pictora_wire as w
from server_process import ServerProcess

KEEP = 'sent-by-caller'  # an in/out text that must come back untouched
UNKNOWN = '00000000-0000-0000-0000-000000000000'


@pytest.fixture(scope='module')
def server():
    with ServerProcess() as s:
        s.write_services(('Maps', 'P1;'))
        s.write_server_file('P1.PTPConfig', '<?xml version="1.0" standalone="yes"?><Pictora><ServiceProvider>'
                                            '<Config><Endpoint>7001</Endpoint><State>Off</State></Config>'
                                            '</ServiceProvider></Pictora>')
        s.start()
        yield s
        s.send_keys('q')
        assert s.finish() == 0


@pytest.fixture
def dce(server):
    connection = w.connect(server.port)
    yield connection
    connection.disconnect()


def buffer_reply(dce, cls, **fields):
    """The two-step buffer reply: size 0 gets the size needed (every size below it does, as
    CopyToBufferTest shows), that size the text and its NUL."""
    first = w.call(dce, cls, Size=0, ErrText=KEEP, **fields)
    need = first['Result']
    assert need > 0 and first['Buffer'] == []
    second = w.call(dce, cls, Size=need, ErrText=KEEP, **fields)
    raw = b''.join(second['Buffer'])
    assert second['Result'] == 0 and len(raw) == need and raw[-1:] == b'\x00'
    return raw[:-1].decode('latin-1')


def test_sessions_and_in_out_texts(dce):
    # An in/out text comes back no longer than the caller sent it.
    for placeholder, expected in (('x' * 40, '1.0.0.2'), ('x' * 7, '1.0.0.2'), ('abc', '1.0')):
        resp = w.call(dce, w.GetVersion, Version=placeholder)
        assert (w.text(resp, 'Version'), resp['Result']) == (expected, 1)
    assert len(w.session(dce, placeholder='abcd')) == 4
    resp = w.open_session(dce, err=KEEP)
    sid = w.text(resp, 'SessionId')
    assert resp['Result'] == 1 and len(sid) == 36 and sid == sid.lower()
    assert w.text(resp) == KEEP  # written only on failure
    for cls, result in ((w.GetSession, 1), (w.CloseSession, 1), (w.GetSession, 0), (w.CloseSession, 0)):
        assert w.call(dce, cls, Text=sid)['Result'] == result, cls.__name__


def test_provider_and_services_registered_through_the_wire(dce):
    sid = w.session(dce)
    maps = w.services_xml('Maps')
    # Success leaves the error text as sent; char data without a NUL is taken whole.
    for cls, data, nul in ((w.AddServiceProvider, w.provider_xml(1), True), (w.AddServices, maps, True),
                           (w.UpdateServiceProviderInfo, w.provider_xml(2), False)):
        resp = w.name_data(dce, cls, sid, 'P1', data, err=KEEP, nul=nul)
        assert (resp['Result'], w.text(resp)) == (1, KEEP), cls.__name__
    assert '<ImageService>Maps</ImageService>' in buffer_reply(dce, w.GetServices, Session=sid, Name='P1')
    assert '<ServiceProvider>P1</ServiceProvider>' in buffer_reply(dce, w.GetServiceProviders, Session=sid)
    # Unreachable, so its load is unknown, but listed at the updated endpoint.
    assert '<Endpoint>2</Endpoint>' in buffer_reply(dce, w.GetServiceProvidersFor, Session=sid, Name='Maps')
    assert buffer_reply(dce, w.GetServiceProviderInfo, Session=sid, Name='P1').startswith('<ServiceProvider>')
    assert '<Basic>' in buffer_reply(dce, w.GetInfo, Session=sid, Name='Basic')

    resp = w.name_data(dce, w.RemoveServices, sid, 'P1', maps, err=KEEP)
    assert (resp['Result'], w.text(resp)) == (1, KEEP)
    assert 'Maps' not in buffer_reply(dce, w.GetServices, Session=sid, Name='P1')
    for result in (1, 0):  # gone the second time: fails, but procedure 12 never writes its error text
        resp = w.call(dce, w.RemoveServiceProvider, Session=sid, Name='P1', ErrText=KEEP)
        assert (resp['Result'], w.text(resp)) == (result, KEEP)


def test_provider_services_and_configuration_without_session(dce):
    services = buffer_reply(dce, w.GetServicesForServiceProvider, Session='ignored', Name='p1')
    assert services.startswith('<Pictora><Services>') and 'Maps' in services
    config = buffer_reply(dce, w.GetServiceProviderConfiguration, Session='', Name='P1')
    assert config.startswith('<?xml') and '<Endpoint>7001</Endpoint>' in config
    # The configuration of an unknown provider is a failure with an empty error text.
    resp = w.call(dce, w.GetServiceProviderConfiguration, Session='', Name='Nobody', Size=100, ErrText=KEEP)
    assert (resp['Result'], w.text(resp)) == (-1, '')


def assert_cut(text, maximum):
    head = (maximum - 3) - (maximum - 3) // 2
    assert len(text) == maximum and text[head:head + 3] == '...'
    assert text.startswith('<Status>') and text.rstrip().endswith('</Status>')


def test_long_error_text_is_cut_in_the_middle_at_4000(dce, server):
    server.write_configuration('<LicenseManager><ServerManagerAllowList>admin1</ServerManagerAllowList>'
                               '</LicenseManager>')
    info = ('<SessionInfo><Application>ServerManager</Application><MachineName>%s</MachineName>'
            '</SessionInfo>' % ('M' * 5000))
    resp = w.open_session(dce, info=info, placeholder=KEEP)
    assert (resp['Result'], w.text(resp, 'SessionId')) == (0, KEEP)
    assert_cut(w.text(resp), 4000)
    assert "The application 'ServerManager' running" in w.text(resp)[:1999]


def test_provider_error_texts(dce):
    sid = w.session(dce)
    # A second registration fails with a message quoting the 5000-character name, cut at 3999.
    name = 'N' * 2500 + '/' + 'N' * 2500
    assert w.name_data(dce, w.AddServiceProvider, sid, name, w.provider_xml(1))['Result'] == 1
    resp = w.name_data(dce, w.AddServiceProvider, sid, name, w.provider_xml(1))
    assert resp['Result'] == 0
    assert_cut(w.text(resp), 3999)
    # Updates and service lists of a provider never registered fail with an empty error text.
    for cls in (w.UpdateServiceProviderInfo, w.AddServices, w.RemoveServices):
        resp = w.name_data(dce, cls, sid, 'Nobody', '<Pictora><ImageServices/></Pictora>')
        assert (resp['Result'], w.text(resp)) == (0, ''), cls.__name__


def test_unknown_session_touches_no_out_parameter(dce):
    named = dict(Session=UNKNOWN, Name='P1', ErrText=KEEP)
    buffers = (w.GetServiceProvidersFor, w.GetServiceProviderInfo, w.GetInfo, w.GetServices)
    updates = (w.AddServiceProvider, w.UpdateServiceProviderInfo, w.AddServices, w.RemoveServices)
    calls = [(w.NotifySession, dict(Session=UNKNOWN, Flag=1, Text='t', ErrText=KEEP), 0),
             (w.RemoveServiceProvider, named, 0),
             (w.GetServiceProviders, dict(Session=UNKNOWN, Size=50, ErrText=KEEP), -1)]
    calls += [(cls, dict(named, Size=50), -1) for cls in buffers]
    calls += [(cls, dict(named, Length=4, Data=b'<x/>'), 0) for cls in updates]
    for cls, fields, result in calls:
        resp = w.call(dce, cls, **fields)
        assert (resp['Result'], w.text(resp)) == (result, KEEP), cls.__name__
        if 'Buffer' in resp.fields:
            assert b''.join(resp['Buffer']) == b'\x00' * 50, cls.__name__


def test_reserved_procedures_answer_their_fixed_results(dce):
    for cls in (w.Reserved1, w.Reserved3):
        assert w.call(dce, cls, Text='anything')['Result'] == 1
    resp = w.call(dce, w.Reserved2, Text='t', In=b'abc', InLength=3, OutLength=5)
    assert (resp['Result'], resp['OutLength'], b''.join(resp['Out'])) == (1, 5, b'\x00' * 5)
    for cls, result in ((w.Reserved20, 0), (w.Reserved22, 1), (w.Reserved23, 1)):
        fields = dict(Session=UNKNOWN, Size=8, ErrText=KEEP)
        if cls is not w.Reserved20:
            fields['Name'] = 'n'
        resp = w.call(dce, cls, **fields)
        assert (resp['Result'], w.text(resp), b''.join(resp['Buffer'])) == (result, KEEP, b'\x00' * 8)


def test_at_its_memory_limit_the_server_refuses_new_sessions_and_keeps_answering():
    with ServerProcess(extra_env={'PICTORA_MEMORY_LIMIT_MB': '1'}) as s:  # below any real process
        s.start()
        dce = w.connect(s.port)
        for _ in range(3):
            resp = w.open_session(dce)
            assert resp['Result'] == 0
            assert 'Not enough server storage' in w.text(resp) and '<ID>00046A</ID>' in w.text(resp)  # 1130
        assert w.version(dce) == '1.0.0.2'
        dce.disconnect()
        s.send_keys('q')
        assert s.finish() == 0
        assert s.stderr.count('Not enough server storage') == 1
