// The worker's thread on Windows.
#pragma once

#include "app/framework_win.h"

namespace dozerin {

class SettingsStore;

// Starts WorkThread at idle priority. The thread's own objects are deleted by the thread when it
// ends; the returned handle stays valid (and waitable) until its owner closes it. An empty handle
// means the thread could not be started.
win::UniqueHandle StartWorkThreadObject(const SettingsStore& store);

}  // namespace dozerin
