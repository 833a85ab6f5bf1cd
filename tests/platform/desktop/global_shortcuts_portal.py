# SPDX-License-Identifier: GPL-3.0-or-later
'''A desktop portal with the GlobalShortcuts interface, for python-dbusmock.

Parameters: "bind_response" (default 0), the answer code of BindShortcuts (1: the user dismissed it).
The desktop assigns each shortcut its preferred trigger and describes it as "desktop: <trigger>".
The extra method dev.norik.Test.Press(id) emits Activated for a session of another application first,
then for every session of the portal.
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
    mock.bind_response = parameters.get('bind_response', 0)
    mock.sessions = {}


def _sender_path(sender):
    return sender[1:].replace('.', '_')


def _respond(mock, sender, token, code, results):
    path = f'{MAIN_OBJ}/request/{_sender_path(sender)}/{token}'
    mock.AddObject(path, 'org.freedesktop.portal.Request', {}, [])

    def emit():
        dbusmock.get_object(path).EmitSignal('org.freedesktop.portal.Request', 'Response', 'ua{sv}',
                                             [dbus.UInt32(code), dbus.Dictionary(results, signature='sv')])
        return False
    GLib.idle_add(emit)
    return dbus.ObjectPath(path)


def _described(shortcuts):
    return dbus.Array([dbus.Struct((sid, dbus.Dictionary(props, signature='sv')))
                       for sid, props in shortcuts.items()], signature='(sa{sv})')


@dbus.service.method(MAIN_IFACE, in_signature='a{sv}', out_signature='o', sender_keyword='sender')
def CreateSession(self, options, sender):
    session = f'{MAIN_OBJ}/session/{_sender_path(sender)}/{options["session_handle_token"]}'
    self.sessions[session] = {}
    return _respond(self, sender, options['handle_token'], 0, {'session_handle': session})


@dbus.service.method(MAIN_IFACE, in_signature='oa(sa{sv})sa{sv}', out_signature='o', sender_keyword='sender')
def BindShortcuts(self, session, shortcuts, parent_window, options, sender):
    if self.bind_response != 0:
        return _respond(self, sender, options['handle_token'], self.bind_response, {})
    bound = self.sessions[session]
    for sid, props in shortcuts:
        bound[str(sid)] = {'description': props['description'],
                           'trigger_description': 'desktop: ' + props.get('preferred_trigger', '')}
    return _respond(self, sender, options['handle_token'], 0, {'shortcuts': _described(bound)})


@dbus.service.method(MAIN_IFACE, in_signature='oa{sv}', out_signature='o', sender_keyword='sender')
def ListShortcuts(self, session, options, sender):
    return _respond(self, sender, options['handle_token'], 0, {'shortcuts': _described(self.sessions[session])})


@dbus.service.method(TEST_IFACE, in_signature='s', out_signature='')
def Press(self, sid):
    stamp = dbus.UInt64(0)
    for session in [f'{MAIN_OBJ}/session/other/app'] + list(self.sessions):
        self.EmitSignal(MAIN_IFACE, 'Activated', 'osta{sv}',
                        [dbus.ObjectPath(session), sid, stamp, dbus.Dictionary({}, signature='sv')])
