// The settings sheet on Windows: a comctl32 property sheet with the four pages.
#pragma once

#include <windows.h>

namespace dozerin {

class SettingsStore;

// Shows CSheetSettings modally, owned by owner. True when it ended with OK and every page that was
// displayed saved; the file then holds the new values.
bool ShowSettingsSheet(HWND owner, SettingsStore& store);

}  // namespace dozerin
