"""The server's procedures over impacket, for what a client built from the IDL never sends. What
every procedure answers and leaves alone is proven by the Windows runtime's client (tests/wine)."""
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

