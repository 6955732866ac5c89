#include "res/texts.h"

#include <cstdlib>
#include <cstring>

#include "res/resource.h"

namespace dozerin {
namespace {

struct Text {
  int id;
  const char* japanese;
  const char* english;
};

// The same texts as the string table of res/dozerin.rc.
constexpr Text kTexts[] = {
    {IDS_APP_TITLE, "Dozerin", "Dozerin"},
    {IDS_SETTINGS_WRITE_FAILED,
     "設定の更新時にエラーが発生しました。\nインストールフォルダに書き込み権限があるか確認"
     "してください。",
     "An error occurred while saving the settings.\nCheck that the installation folder may be "
     "written to."},
    {IDS_PERF_INIT_NETWORK, "パフォーマンスモニタの初期化に失敗しました。(Network Interface)",
     "Error at initialize perfmon."},
    {IDS_THREAD_INIT_FAILED, "スレッドの初期化に失敗しました",
     "The monitoring thread could not be started."},
    {IDS_PERF_INIT_PROCESSOR, "パフォーマンスモニタの初期化に失敗しました。(Processor)",
     "Error at initialize perfmon. (Processor)"},
    {IDS_FILE_GENERIC, "%1 へのアクセス中に予期しないエラーが発生しました。",
     "An unexpected error occurred while accessing %1."},
    {IDS_FILE_ACCESS_DENIED, "%1 へのアクセスは拒否されました。", "Access to %1 was denied."},
    {IDS_FILE_SHARING_VIOLATION, "%1 へのアクセス中に共有違反が発生しました。",
     "A sharing violation occurred while accessing %1."},
    {IDS_FILE_BAD_PATH, "%1 には無効なパスが含まれています。", "%1 contains an invalid path."},
    {IDS_FILE_DISK_FULL, "%1 への書き込み中にディスクがいっぱいになりました。",
     "The disk became full while writing %1."},
    {IDS_OUT_OF_MEMORY, "メモリが不足しています。", "Out of memory."},
    {IDS_UNEXPECTED_ERROR, "予期しないエラーが発生しました。", "An unexpected error occurred."},
    {kTextMenuSettings, "設定(&S)", "Settings(&S)"},
    {kTextMenuClose, "閉じる(&X)", "Exit(&X)"},
    {kTextNoDisplay, "X11 のディスプレイがないため、ウインドウとマウスは監視できません。",
     "There is no X11 display: windows and the mouse cannot be watched."},
};

}  // namespace

std::string_view UiText(int id, bool japanese) {
  for (const Text& t : kTexts) {
    if (t.id == id) return japanese ? t.japanese : t.english;
  }
  return {};
}

bool JapaneseLocale() {
  // The first of these that is set names the language, as the C library reads them.
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return std::strncmp(value, "ja", 2) == 0;
  }
  return false;
}

}  // namespace dozerin
