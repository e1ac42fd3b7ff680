"""A stand-in for the systemd manager's D-Bus methods that uninstalling uses, on a private bus
of the test's own, so pictora-server -uninstall runs without systemd.

Run as a program, it serves the units of a JSON file (name -> description, file, loaded,
state, refuses_stop) on the bus in $DBUS_SYSTEM_BUS_ADDRESS and appends each call it receives
to a log file as a JSON line [method, arguments...]. PrivateBus starts the bus and the stand-in.
"""
import json
import os
import subprocess
import sys
import tempfile

BUS_CONFIG = '''<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=%s</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
'''


class PrivateBus:
    """A dbus-daemon and the stand-in manager serving `units`; removed on exit."""

    def __init__(self, units):
        self.folder = tempfile.mkdtemp(prefix='pictora-bus-')
        self.units_file = os.path.join(self.folder, 'units.json')
        self.log = os.path.join(self.folder, 'calls.log')
        with open(self.units_file, 'w') as f:
            json.dump(units, f)
        self.processes = []

    def __enter__(self):
        config = os.path.join(self.folder, 'bus.conf')
        with open(config, 'w') as f:
            f.write(BUS_CONFIG % os.path.join(self.folder, 'bus'))
        daemon = subprocess.Popen(['dbus-daemon', '--config-file=' + config, '--print-address', '--nofork'],
                                  stdout=subprocess.PIPE, text=True)
        self.processes.append(daemon)
        self.address = daemon.stdout.readline().strip()
        manager = subprocess.Popen([sys.executable, os.path.abspath(__file__), self.units_file, self.log],
                                   env=dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=self.address),
                                   stdout=subprocess.PIPE, text=True)
        self.processes.append(manager)
        assert manager.stdout.readline().strip() == 'ready'
        return self

    def __exit__(self, *_):
        for process in reversed(self.processes):
            process.terminate()
            process.wait(timeout=10)
        subprocess.run(['rm', '-rf', self.folder], check=False)

    def calls(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log) as f:
            return [json.loads(line) for line in f]


def serve(units_file, log):
    import dbus
    import dbus.service
    from dbus.mainloop.glib import DBusGMainLoop
    from gi.repository import GLib

    NAME = 'org.freedesktop.systemd1'
    MANAGER = 'org.freedesktop.systemd1.Manager'
    PROPERTIES = 'org.freedesktop.DBus.Properties'
    with open(units_file) as f:
        units = json.load(f)

    def record(*call):
        with open(log, 'a') as f:
            f.write(json.dumps(call) + '\n')

    def object_path(name):
        return '/org/freedesktop/systemd1/unit/' + ''.join(
            c if c.isalnum() else '_%02x' % ord(c) for c in name)

    def unit(name):
        if name not in units:
            raise dbus.exceptions.DBusException('Unit %s not loaded.' % name,
                                                name='org.freedesktop.systemd1.NoSuchUnit')
        return units[name]

    class Unit(dbus.service.Object):
        def __init__(self, bus, name):
            super().__init__(bus, object_path(name))
            self.name = name

        @dbus.service.method(PROPERTIES, in_signature='ss', out_signature='v')
        def Get(self, interface, prop):
            u = units[self.name]
            return {'Description': u['description'], 'FragmentPath': u.get('file', ''),
                    'ActiveState': u.get('state', 'inactive')}[prop]

    class Manager(dbus.service.Object):
        @dbus.service.method(MANAGER, out_signature='a(ssssssouso)')
        def ListUnits(self):
            return [(n, u['description'], 'loaded', u.get('state', 'inactive'), 'running', '', object_path(n), 0, '',
                     '/') for n, u in units.items() if u.get('loaded')]

        @dbus.service.method(MANAGER, out_signature='a(ss)')
        def ListUnitFiles(self):
            files = {u['file'] for u in units.values() if u.get('file')}
            return [(path, 'enabled') for path in sorted(files)]

        @dbus.service.method(MANAGER, in_signature='s', out_signature='o')
        def LoadUnit(self, name):
            record('LoadUnit', name)
            unit(name)
            return object_path(name)

        @dbus.service.method(MANAGER, in_signature='ss', out_signature='o')
        def StopUnit(self, name, mode):
            record('StopUnit', name, mode)
            if unit(name).get('refuses_stop'):
                raise dbus.exceptions.DBusException(
                    'Operation refused, unit %s may be requested by dependency only.' % name,
                    name='org.freedesktop.systemd1.OnlyByDependency')
            units[name]['state'] = 'inactive'
            return '/org/freedesktop/systemd1/job/1'

        @dbus.service.method(MANAGER, in_signature='asb', out_signature='a(sss)')
        def DisableUnitFiles(self, names, runtime):
            record('DisableUnitFiles', list(names), bool(runtime))
            return [('unlink', '/etc/systemd/system/multi-user.target.wants/' + n, '') for n in names]

        @dbus.service.method(MANAGER)
        def Reload(self):
            record('Reload')

    DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(os.environ['DBUS_SYSTEM_BUS_ADDRESS'])
    keep = [dbus.service.BusName(NAME, bus), Manager(bus, '/org/freedesktop/systemd1')]
    keep += [Unit(bus, name) for name in units]
    print('ready', flush=True)
    GLib.MainLoop().run()


if __name__ == '__main__':
    serve(sys.argv[1], sys.argv[2])
