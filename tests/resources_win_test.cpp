// The program's resources: every string in both languages, every icon sharp at every scale.
#include <gtest/gtest.h>
#include <windows.h>

#include "res/resource.h"

namespace {

// The length of string id in the string table of one language; -1 when its block is missing.
int StringLength(UINT id, WORD language) {
  HRSRC block = FindResourceExA(nullptr, RT_STRING, MAKEINTRESOURCEA(id / 16 + 1), language);
  if (block == nullptr) return -1;
  const auto* p = static_cast<const WCHAR*>(LockResource(LoadResource(nullptr, block)));
  // A block holds 16 counted strings.
  for (UINT i = 0; i < id % 16; ++i) p += 1 + *p;
  return *p;
}

TEST(Resources, EveryStringHasAJapaneseAndAnEnglishText) {
  const UINT ids[] = {IDS_APP_TITLE,          IDS_SETTINGS_WRITE_FAILED, IDS_PERF_INIT_NETWORK,
                      IDS_THREAD_INIT_FAILED, IDS_PERF_INIT_PROCESSOR,   IDS_FRAMEWORK_APP_TITLE,
                      IDS_FILE_GENERIC,       IDS_FILE_ACCESS_DENIED,    IDS_FILE_SHARING_VIOLATION,
                      IDS_FILE_BAD_PATH,      IDS_FILE_DISK_FULL,        IDS_PARSE_INT,
                      IDS_PARSE_INT_RANGE,    IDS_OUT_OF_MEMORY,         IDS_UNEXPECTED_ERROR};
  for (UINT id : ids) {
    EXPECT_GT(StringLength(id, MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)), 0) << id;
    EXPECT_GT(StringLength(id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)), 0) << id;
  }
}

TEST(Resources, EveryIconHasAFrameDrawnForEachScale) {
  for (int id : {IDR_MAINFRAME, IDI_STATE_BUSY, IDI_STATE_MARGIN, IDI_STATE_IDLE}) {
    HRSRC group = FindResourceA(nullptr, MAKEINTRESOURCEA(id), RT_GROUP_ICON);
    ASSERT_NE(group, nullptr) << id;
    auto* directory = static_cast<BYTE*>(LockResource(LoadResource(nullptr, group)));
    // 100 % to 400 % of a 16-pixel small icon.
    for (int size : {16, 20, 24, 32, 40, 48, 64}) {
      const int frame = LookupIconIdFromDirectoryEx(directory, TRUE, size, size, LR_DEFAULTCOLOR);
      HRSRC image = FindResourceA(nullptr, MAKEINTRESOURCEA(frame), RT_ICON);
      ASSERT_NE(image, nullptr);
      const auto* header =
          static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(nullptr, image)));
      EXPECT_EQ(header->biWidth, size) << "icon " << id << " is scaled at " << size;
    }
  }
}

// The manifest the program is started with (this test program carries the same one): the process
// knows each monitor's scale. (What it claims of the system's versions shows only on Windows:
// Wine reports the version its prefix is set to.)
TEST(Resources, TheManifestMakesTheProcessAwareOfEachMonitorsScale) {
  using Context = HANDLE;
  const auto user32 = GetModuleHandleA("user32.dll");
  const auto current = reinterpret_cast<Context(WINAPI*)()>(
      reinterpret_cast<void*>(GetProcAddress(user32, "GetThreadDpiAwarenessContext")));
  const auto awareness = reinterpret_cast<int(WINAPI*)(Context)>(
      reinterpret_cast<void*>(GetProcAddress(user32, "GetAwarenessFromDpiAwarenessContext")));
  ASSERT_TRUE(current != nullptr && awareness != nullptr);
  EXPECT_EQ(awareness(current()), 2);  // DPI_AWARENESS_PER_MONITOR_AWARE: v2 on Windows 10 1703+
}

}  // namespace
