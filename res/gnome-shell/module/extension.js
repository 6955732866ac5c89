// GNOME 45 and later: the window list as a module extension.
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';
import {WindowList} from './windows.js';

export default class DozerinWindowsExtension extends Extension {
    enable() {
        this._list = new WindowList(this.metadata['dozerin-program']);
        this._list.enable();
    }

    disable() {
        this._list.disable();
        this._list = null;
    }
}
