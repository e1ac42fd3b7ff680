"""The server's procedures over impacket, for what a client built from the IDL never sends, and
for the memory limit. What every procedure answers and leaves alone is proven by the Windows
runtime's client (tests/wine); what the core answers under tests/servercore."""
import pictora_wire as w
from server_process import ServerProcess

KEEP = 'sent-by-caller'  # an in/out text that must come back untouched


def test_char_data_without_its_nul_is_taken_whole():
    with ServerProcess() as s:
        s.write_services('Maps')
        s.start()
        dce = w.connect(s.port)
        sid = w.session(dce)
        for cls, data in ((w.AddServiceProvider, w.provider_xml(1)), (w.AddServices, w.services_xml('Maps'))):
            resp = w.name_data(dce, cls, sid, 'P1', data, err=KEEP, nul=False)
            assert (resp['Result'], w.text(resp)) == (1, KEEP), cls.__name__
        resp = w.call(dce, w.GetServices, Session=sid, Name='P1', Size=1000, ErrText=KEEP)
        assert resp['Result'] == 0 and '<ImageService>Maps</ImageService>' in w.buffer_text(resp)
        dce.disconnect()


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
