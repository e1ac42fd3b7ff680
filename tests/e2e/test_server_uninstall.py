"""pictora-server -uninstall against a stand-in systemd manager on a private bus."""
import os
import subprocess
import tempfile

from server_process import binary
from systemd_stand_in import PrivateBus


def uninstall(bus_address):
    return subprocess.run([binary("pictora-server"), '-Uninstall'], env=dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=bus_address),
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)


def test_stops_disables_and_removes_the_products_units_but_not_one_that_refuses_to_stop():
    with tempfile.TemporaryDirectory() as folder:
        def unit_file(name):
            path = os.path.join(folder, name)
            open(path, 'w').close()
            return path
        units = {
            'korvane-pictora.service': {'description': 'Korvane Pictora Server', 'loaded': True, 'state': 'active',
                                        'file': unit_file('korvane-pictora.service')},
            'pictora-provider@a.service': {'description': 'Korvane Pictora stand-in provider a', 'loaded': True,
                                           'state': 'active', 'refuses_stop': True,
                                           'file': unit_file('pictora-provider@.service')},
            'pictora-extra.service': {'description': 'KORVANE PICTORA extra', 'file': unit_file('pictora-extra.service')},
            'other.service': {'description': 'Another daemon', 'loaded': True, 'state': 'active',
                              'file': unit_file('other.service')},
        }
        with PrivateBus(units) as bus:
            done = uninstall(bus.address)
            calls = bus.calls()
        assert done.stdout == (
            '\n Uninstalled Korvane Pictora: pictora-provider@a.service: stop: Operation refused, unit '
            'pictora-provider@a.service may be requested by dependency only.\n')
        assert done.returncode == 0
        assert sorted(os.listdir(folder)) == ['other.service', 'pictora-provider@.service']
        assert sorted(c[1] for c in calls if c[0] == 'StopUnit') == [
            'korvane-pictora.service', 'pictora-extra.service', 'pictora-provider@a.service']
        assert sorted(c[1][0] for c in calls if c[0] == 'DisableUnitFiles') == [
            'korvane-pictora.service', 'pictora-extra.service']
        assert [c for c in calls if c[0] == 'LoadUnit'] == [['LoadUnit', 'pictora-extra.service']]
        assert calls[-1] == ['Reload']


def test_no_bus_is_one_readable_line():
    done = uninstall('unix:path=/nonexistent/bus')
    assert done.stdout == '\n Uninstalled Korvane Pictora: cannot connect to the system bus: No such file or directory\n'
    assert done.returncode == 0
