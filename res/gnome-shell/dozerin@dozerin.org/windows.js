// The open windows' titles and classes on the session bus, for Dozerin's window watch. All of the
// extension's work is here; extension.js only loads it, so that the module form that GNOME 45 and
// later load needs only a loader of its own and the two imports below as module imports.
/* exported WindowList */
'use strict';

const {Gio, GLib} = imports.gi;

const BUS_NAME = 'org.dozerin.Dozerin.Shell';
const OBJECT_PATH = '/org/dozerin/Dozerin/Shell';
const INTERFACE = `<node>
  <interface name="org.dozerin.Dozerin.Shell">
    <method name="GetWindows"><arg type="a(ss)" direction="out" name="windows"/></method>
    <signal name="WindowsChanged"><arg type="a(ss)" name="windows"/></signal>
  </interface>
</node>`;

var WindowList = class {
    enable() {
        this._watched = new Map();  // window -> its signal ids
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
        if (this._pending)
            GLib.source_remove(this._pending);
        this._pending = 0;
        this._exported.unexport();
        this._exported = null;
    }

    GetWindows() {
        return this._list();
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

    // One signal for all the changes of a main loop iteration.
    _changed() {
        if (this._pending)
            return;
        this._pending = GLib.idle_add(GLib.PRIORITY_DEFAULT_IDLE, () => {
            this._pending = 0;
            this._exported.emit_signal('WindowsChanged',
                new GLib.Variant('(a(ss))', [this._list()]));
            return GLib.SOURCE_REMOVE;
        });
    }
};
