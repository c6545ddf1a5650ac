#!/usr/bin/python3
"""The rest of a Wayland desktop for the tests: another application and the notification server.

Run by Debian's python3 (its python3-gi) on the compositor and session bus named in the
environment. The application's window fills the screen and takes the focus when it maps; what is
typed into it plays the user:
  l        follows a link to the URL given as the only argument: the desktop launches its
           handler with an activation token of this window, as a browser does
  n        clicks the latest notification: ActivationToken (a token of this window, from the
           click), ActionInvoked "default" and NotificationClosed (dismissed), as a shell does
SIGUSR1 opens the window anew, over everything, with the focus. It owns
org.freedesktop.Notifications on the session bus. Every event is one line on stdout:
  focus in | focus out | key <name> | launched | invoked <id>
  notify <id> <replaces_id> <summary>|<body>|<actions, comma-separated>
"""
import signal
import sys

import gi

gi.require_version('Gdk', '3.0')
gi.require_version('Gtk', '3.0')
from gi.repository import Gdk, Gio, GLib, Gtk  # noqa: E402

INTERFACE = 'org.freedesktop.Notifications'
INTROSPECTION = '''<node><interface name="org.freedesktop.Notifications">
  <method name="Notify">
    <arg direction="in" type="s"/><arg direction="in" type="u"/><arg direction="in" type="s"/>
    <arg direction="in" type="s"/><arg direction="in" type="s"/><arg direction="in" type="as"/>
    <arg direction="in" type="a{sv}"/><arg direction="in" type="i"/>
    <arg direction="out" type="u"/>
  </method>
  <method name="CloseNotification"><arg direction="in" type="u"/></method>
  <method name="GetCapabilities"><arg direction="out" type="as"/></method>
  <method name="GetServerInformation">
    <arg direction="out" type="s"/><arg direction="out" type="s"/>
    <arg direction="out" type="s"/><arg direction="out" type="s"/>
  </method>
  <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
  <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
  <signal name="ActivationToken"><arg type="u"/><arg type="s"/></signal>
</interface></node>'''

url = sys.argv[1]
bus = None
window = None
shown = []  # ids of the notifications on screen, oldest first
last_id = 0


def say(*words):
    print(*words, flush=True)


def activation_token():
    """A token the compositor honours: this window has the focus and was just typed into."""
    context = window.get_display().get_app_launch_context()
    app = Gio.AppInfo.create_from_commandline(
        'true', None, Gio.AppInfoCreateFlags.SUPPORTS_STARTUP_NOTIFICATION)
    return context.get_startup_notify_id(app, [])


def emit(name, signature, *values):
    bus.emit_signal(None, '/org/freedesktop/Notifications', INTERFACE, name,
                    GLib.Variant(signature, values))


def on_key(_, event):
    name = Gdk.keyval_name(event.keyval)
    say('key', name)
    if name == 'l':
        Gio.AppInfo.launch_default_for_uri(url, window.get_display().get_app_launch_context())
        say('launched')
    elif name == 'n' and shown:
        notification = shown.pop()
        emit('ActivationToken', '(us)', notification, activation_token())
        emit('ActionInvoked', '(us)', notification, 'default')
        emit('NotificationClosed', '(uu)', notification, 2)
        say('invoked', notification)
    return True


def open_window():
    global window
    if window is not None:
        window.destroy()
    window = Gtk.Window(title='Another application')
    window.maximize()
    window.connect('key-press-event', on_key)
    window.connect('notify::is-active',
                   lambda w, _: say('focus', 'in' if w.is_active() else 'out'))
    window.show_all()
    return GLib.SOURCE_CONTINUE


def on_call(connection, sender, path, interface, method, args, invocation):
    global last_id
    if method == 'Notify':
        _, replaces, _, summary, body, actions, _, _ = args.unpack()
        if replaces in shown:
            notification = replaces
        else:
            last_id += 1
            notification = last_id
            shown.append(notification)
        say('notify', notification, replaces, summary + '|' + body + '|' + ','.join(actions))
        invocation.return_value(GLib.Variant('(u)', (notification,)))
    elif method == 'CloseNotification':
        (notification,) = args.unpack()
        if notification in shown:
            shown.remove(notification)
            emit('NotificationClosed', '(uu)', notification, 3)
        invocation.return_value(None)
    elif method == 'GetCapabilities':
        invocation.return_value(GLib.Variant('(as)', (['actions', 'body'],)))
    else:
        invocation.return_value(GLib.Variant('(ssss)', ('tests', 'telvana', '1', '1.2')))


def on_bus(connection, _):
    global bus
    bus = connection
    node = Gio.DBusNodeInfo.new_for_xml(INTROSPECTION)
    connection.register_object('/org/freedesktop/Notifications', node.interfaces[0], on_call)


def on_name(*_):
    open_window()
    say('ready')


Gio.bus_own_name(Gio.BusType.SESSION, INTERFACE, Gio.BusNameOwnerFlags.NONE, on_bus, on_name,
                 lambda *_: sys.exit('the notification server name is taken'))
GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR1, open_window)
Gtk.main()
