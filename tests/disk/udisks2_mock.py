'''A stand-in for udisks2, loaded by python-dbusmock on a private system bus.

A Manager resolves device paths to Block objects; each Block's OpenDevice
behaves as the test that names it needs. Parameters (JSON):
  {"devices": [{"path": PATH, "behaviour": B, "other": PATH2}, ...]}
where B is one of
  grant     OpenDevice hands back PATH opened read-only
  backup    no OpenDevice (udisks2 before 2.7.3); OpenForBackup grants
  dismiss   the user cancelled the password dialog
  writable  hands back PATH opened read-write
  other     hands back PATH2 (another object) opened read-only
  hang      never answers
and an optional "drive" puts the device on a drive whose health udisks2
reports: {"ata_failing": BOOL, "bad_sectors": N} (Drive.Ata SMART) or
{"nvme_warnings": [WORD, ...]} (NVMe.Controller's critical warnings).
'''

import os

import dbus
import dbus.service
from dbusmock import mockobject

BUS_NAME = 'org.freedesktop.UDisks2'
MAIN_OBJ = '/org/freedesktop/UDisks2'
MAIN_IFACE = 'org.freedesktop.DBus.ObjectManager'
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

MANAGER_PATH = '/org/freedesktop/UDisks2/Manager'
MANAGER_IFACE = 'org.freedesktop.UDisks2.Manager'
BLOCK_IFACE = 'org.freedesktop.UDisks2.Block'
BLOCK_PREFIX = '/org/freedesktop/UDisks2/block_devices/'
DRIVE_PREFIX = '/org/freedesktop/UDisks2/drives/'
DRIVE_IFACE = 'org.freedesktop.UDisks2.Drive'
ATA_IFACE = 'org.freedesktop.UDisks2.Drive.Ata'
NVME_IFACE = 'org.freedesktop.UDisks2.NVMe.Controller'


def _add_drive(mock, index, health):
    path = f'{DRIVE_PREFIX}test{index}'
    mock.AddObject(path, DRIVE_IFACE, {'Model': dbus.String(f'Test drive {index}', variant_level=1)}, [])
    obj = mockobject.objects[path]
    if 'nvme_warnings' in health:
        obj.AddProperties(NVME_IFACE, {
            'SmartCriticalWarning': dbus.Array(health['nvme_warnings'], signature='s', variant_level=1),
        })
    else:
        obj.AddProperties(ATA_IFACE, {
            'SmartEnabled': dbus.Boolean(True, variant_level=1),
            'SmartFailing': dbus.Boolean(health.get('ata_failing', False), variant_level=1),
            'SmartNumBadSectors': dbus.Int64(health.get('bad_sectors', -1), variant_level=1),
        })
    return path


def _descriptor(path, flags):
    fd = os.open(path, flags | os.O_CLOEXEC)
    try:
        return dbus.types.UnixFd(fd)  # takes its own copy
    finally:
        os.close(fd)


def _granting(path, flags):
    return lambda _self, *_args: _descriptor(path, flags)


def _dismissing(_self, *_args):
    raise dbus.exceptions.DBusException(
        'Not authorized to perform operation (polkit authority said no)',
        name='org.freedesktop.UDisks2.Error.NotAuthorizedDismissed')


def _unknown_method(_self, *_args):
    # What udisks2 before 2.7.3 answers (dbusmock would otherwise find the
    # method the other Block objects have).
    raise dbus.exceptions.DBusException('No such method "OpenDevice"',
                                        name='org.freedesktop.DBus.Error.UnknownMethod')


def _hanging_open_device(self, _mode, _options, ok_cb, err_cb):
    # Kept, never called: the caller waits until its own timeout.
    self.held_calls.append((ok_cb, err_cb))


def _add_hanging_open_device(obj):
    method = dbus.service.method(BLOCK_IFACE, in_signature='sa{sv}', out_signature='h',
                                 async_callbacks=('ok_cb', 'err_cb'))(_hanging_open_device)
    method.__name__ = 'OpenDevice'
    obj.held_calls = []
    obj.methods.setdefault(BLOCK_IFACE, {})['OpenDevice'] = ('sa{sv}', 'h', '', method)


def load(mock, parameters):
    devices = parameters.get('devices', [])
    resolved = {}
    for index, device in enumerate(devices):
        path = device['path']
        behaviour = device['behaviour']
        object_path = f'{BLOCK_PREFIX}test{index}'
        resolved[path] = object_path
        properties = {
            'Device': dbus.ByteArray(path.encode() + b'\0', variant_level=1),
            'ReadOnly': dbus.Boolean(False, variant_level=1),
            'Drive': dbus.ObjectPath(_add_drive(mock, index, device['drive']) if 'drive' in device else '/',
                                     variant_level=1),
        }
        mock.AddObject(object_path, BLOCK_IFACE, properties, [])
        obj = mockobject.objects[object_path]
        if behaviour == 'grant':
            obj.AddMethod(BLOCK_IFACE, 'OpenDevice', 'sa{sv}', 'h', _granting(path, os.O_RDONLY))
        elif behaviour == 'backup':
            obj.AddMethod(BLOCK_IFACE, 'OpenDevice', 'sa{sv}', 'h', _unknown_method)
            obj.AddMethod(BLOCK_IFACE, 'OpenForBackup', 'a{sv}', 'h', _granting(path, os.O_RDONLY))
        elif behaviour == 'dismiss':
            obj.AddMethod(BLOCK_IFACE, 'OpenDevice', 'sa{sv}', 'h', _dismissing)
        elif behaviour == 'writable':
            obj.AddMethod(BLOCK_IFACE, 'OpenDevice', 'sa{sv}', 'h', _granting(path, os.O_RDWR))
        elif behaviour == 'other':
            obj.AddMethod(BLOCK_IFACE, 'OpenDevice', 'sa{sv}', 'h', _granting(device['other'], os.O_RDONLY))
        elif behaviour == 'hang':
            _add_hanging_open_device(obj)
        else:
            raise ValueError(f'unknown behaviour {behaviour}')

    def resolve_device(_self, devspec, _options):
        path = str(devspec.get('path', ''))
        return dbus.Array([dbus.ObjectPath(resolved[path])] if path in resolved else [], signature='o')

    mock.AddObject(MANAGER_PATH, MANAGER_IFACE, {'Version': dbus.String('2.9.4', variant_level=1)}, [])
    mockobject.objects[MANAGER_PATH].AddMethod(MANAGER_IFACE, 'ResolveDevice', 'a{sv}a{sv}', 'ao',
                                               resolve_device)
