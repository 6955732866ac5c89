// The open windows' titles and classes, for Dozerin's window watch. All of the extension's work is
// here, in one text for both extensions: the build puts the imports of each form above it and its
// export below.
//
// GNOME hides the window list from ordinary clients, so this one tells it only to the program
// named in the extension's metadata: a caller of GetWindows whose executable is that program gets
// the list, and from then on each change, sent to it alone, until it leaves the bus.

const BUS_NAME = 'org.dozerin.Dozerin.Shell';
const OBJECT_PATH = '/org/dozerin/Dozerin/Shell';
const INTERFACE_NAME = 'org.dozerin.Dozerin.Shell';
const INTERFACE = `<node>
  <interface name="org.dozerin.Dozerin.Shell">
    <method name="GetWindows"><arg type="a(ss)" direction="out" name="windows"/></method>
    <signal name="WindowsChanged"><arg type="a(ss)" name="windows"/></signal>
  </interface>
</node>`;
// The most callers followed at once: copies of the program under other names, restarts.
const MAX_LISTENERS = 16;

const DozerinWindows = class {
    constructor(program) {
        this._program = program;
    }

    enable() {
        this._watched = new Map();  // window -> its signal ids
        this._listeners = new Map();  // unique bus name -> its name watch
        this._pending = 0;
        this._exported = Gio.DBusExportedObject.wrapJSObject(INTERFACE, this);
        this._exported.export(Gio.DBus.session, OBJECT_PATH);
        this._created = global.display.connect('window-created', (_, window) => {
            this._watch(window);
            this._changed();
        });
        for (const actor of global.get_window_actors())
            this._watch(actor.meta_window);
        this._name = Gio.bus_own_name(Gio.BusType.SESSION, BUS_NAME, Gio.BusNameOwnerFlags.NONE,
            null, null, null);
    }

    disable() {
        Gio.bus_unown_name(this._name);
        global.display.disconnect(this._created);
        for (const [window, ids] of this._watched)
            ids.forEach(id => window.disconnect(id));
        this._watched.clear();
        for (const watch of this._listeners.values())
            Gio.bus_unwatch_name(watch);
        this._listeners.clear();
        if (this._pending)
            GLib.source_remove(this._pending);
        this._pending = 0;
        this._exported.unexport();
        this._exported = null;
    }

    GetWindowsAsync(_, invocation) {
        const sender = invocation.get_sender();
        this._isProgram(sender, allowed => {
            if (!allowed || !this._exported) {
                invocation.return_dbus_error('org.freedesktop.DBus.Error.AccessDenied',
                    'Only Dozerin may list the windows');
                return;
            }
            this._listen(sender);
            invocation.return_value(new GLib.Variant('(a(ss))', [this._list()]));
        });
    }

    // Whether the bus name belongs to a process running the program.
    _isProgram(sender, done) {
        if (!sender || !this._program || this._program.startsWith('@')) {
            done(false);
            return;
        }
        Gio.DBus.session.call('org.freedesktop.DBus', '/org/freedesktop/DBus',
            'org.freedesktop.DBus', 'GetConnectionUnixProcessID', new GLib.Variant('(s)', [sender]),
            new GLib.VariantType('(u)'), Gio.DBusCallFlags.NONE, -1, null, (bus, result) => {
                let allowed = false;
                try {
                    const [pid] = bus.call_finish(result).deepUnpack();
                    allowed = GLib.file_read_link(`/proc/${pid}/exe`) === this._program;
                } catch (e) {
                    allowed = false;
                }
                done(allowed);
            });
    }

    _listen(name) {
        if (this._listeners.has(name) || this._listeners.size >= MAX_LISTENERS)
            return;
        this._listeners.set(name, Gio.bus_watch_name_on_connection(Gio.DBus.session, name,
            Gio.BusNameWatcherFlags.NONE, null, () => {
                const watch = this._listeners.get(name);
                if (watch === undefined)
                    return;
                this._listeners.delete(name);
                Gio.bus_unwatch_name(watch);
            }));
    }

    _watch(window) {
        if (this._watched.has(window))
            return;
        const ids = ['notify::title', 'notify::wm-class'].map(
            signal => window.connect(signal, () => this._changed()));
        ids.push(window.connect('unmanaged', () => {
            ids.forEach(id => window.disconnect(id));
            this._watched.delete(window);
            this._changed();
        }));
        this._watched.set(window, ids);
    }

    _list() {
        return [...this._watched.keys()].map(w => [w.get_title() ?? '', w.get_wm_class() ?? '']);
    }

    // One signal to each listener for all the changes of a main loop iteration.
    _changed() {
        if (this._pending)
            return;
        this._pending = GLib.idle_add(GLib.PRIORITY_DEFAULT_IDLE, () => {
            this._pending = 0;
            const list = new GLib.Variant('(a(ss))', [this._list()]);
            for (const name of this._listeners.keys()) {
                Gio.DBus.session.emit_signal(name, OBJECT_PATH, INTERFACE_NAME, 'WindowsChanged',
                    list);
            }
            return GLib.SOURCE_REMOVE;
        });
    }
};
