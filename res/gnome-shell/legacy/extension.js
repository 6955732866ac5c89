// GNOME 43 and 44: the window list as a legacy extension.
/* exported init */
'use strict';

const Me = imports.misc.extensionUtils.getCurrentExtension();

function init() {
    return new Me.imports.windows.WindowList(Me.metadata['dozerin-program']);
}
