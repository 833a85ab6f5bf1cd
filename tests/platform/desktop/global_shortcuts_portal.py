# SPDX-License-Identifier: GPL-3.0-or-later
'''A desktop portal with the GlobalShortcuts interface, for python-dbusmock. The desktop assigns each
shortcut its preferred trigger, described as "desktop: <trigger>". dev.norik.Test.Press(id) emits Activated
for a session of another application first, then for every session of the portal.
'''
import dbus
import dbusmock
from gi.repository import GLib

BUS_NAME = 'org.freedesktop.portal.Desktop'
MAIN_OBJ = '/org/freedesktop/portal/desktop'
MAIN_IFACE = 'org.freedesktop.portal.GlobalShortcuts'
SYSTEM_BUS = False
TEST_IFACE = 'dev.norik.Test'


def load(mock, parameters):
    mock.AddProperties(MAIN_IFACE, {'version': dbus.UInt32(1)})
    mock.sessions = []


def _sender_path(sender):
    return sender[1:].replace('.', '_')


def _respond(mock, sender, token, results):
    path = f'{MAIN_OBJ}/request/{_sender_path(sender)}/{token}'
    mock.AddObject(path, 'org.freedesktop.portal.Request', {}, [])

    def emit():
        dbusmock.get_object(path).EmitSignal('org.freedesktop.portal.Request', 'Response', 'ua{sv}',
                                             [dbus.UInt32(0), dbus.Dictionary(results, signature='sv')])
        return False
    GLib.idle_add(emit)
    return dbus.ObjectPath(path)


@dbus.service.method(MAIN_IFACE, in_signature='a{sv}', out_signature='o', sender_keyword='sender')
def CreateSession(self, options, sender):
    session = f'{MAIN_OBJ}/session/{_sender_path(sender)}/{options["session_handle_token"]}'
    self.sessions.append(session)
    return _respond(self, sender, options['handle_token'], {'session_handle': session})


@dbus.service.method(MAIN_IFACE, in_signature='oa(sa{sv})sa{sv}', out_signature='o', sender_keyword='sender')
def BindShortcuts(self, session, shortcuts, parent_window, options, sender):
    bound = dbus.Array([(sid, {'description': props['description'],
                               'trigger_description': 'desktop: ' + props.get('preferred_trigger', '')})
                        for sid, props in shortcuts], signature='(sa{sv})')
    return _respond(self, sender, options['handle_token'], {'shortcuts': bound})


@dbus.service.method(TEST_IFACE, in_signature='s', out_signature='')
def Press(self, sid):
    for session in [f'{MAIN_OBJ}/session/other/app'] + self.sessions:
        self.EmitSignal(MAIN_IFACE, 'Activated', 'osta{sv}',
                        [dbus.ObjectPath(session), sid, dbus.UInt64(0), dbus.Dictionary({}, signature='sv')])
