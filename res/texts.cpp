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
    {IDS_PERF_INIT_DISK, "パフォーマンスモニタの初期化に失敗しました。(PhysicalDisk)",
     "Error at initialize perfmon. (PhysicalDisk)"},
    {IDS_THREAD_INIT_FAILED, "スレッドの初期化に失敗しました",
     "The monitoring thread could not be started."},
    {IDS_PERF_INIT_PROCESSOR, "パフォーマンスモニタの初期化に失敗しました。(Processor)",
     "Error at initialize perfmon. (Processor)"},
    {IDS_FRAMEWORK_APP_TITLE, "Dozerin", "Dozerin"},
    {IDS_FILE_GENERIC, "%1 へのアクセス中に予期しないエラーが発生しました。",
     "An unexpected error occurred while accessing %1."},
    {IDS_FILE_ACCESS_DENIED, "%1 へのアクセスは拒否されました。", "Access to %1 was denied."},
    {IDS_FILE_SHARING_VIOLATION, "%1 へのアクセス中に共有違反が発生しました。",
     "A sharing violation occurred while accessing %1."},
    {IDS_FILE_BAD_PATH, "%1 には無効なパスが含まれています。", "%1 contains an invalid path."},
    {IDS_FILE_DISK_FULL, "%1 への書き込み中にディスクがいっぱいになりました。",
     "The disk became full while writing %1."},
    {IDS_PARSE_INT, "正の整数を入力してください。", "Please enter a positive integer."},
    {IDS_PARSE_INT_RANGE, "%1 から %2 までの整数を入力してください。",
     "Please enter an integer between %1 and %2."},
    {IDS_OUT_OF_MEMORY, "メモリが不足しています。", "Out of memory."},
    {IDS_UNEXPECTED_ERROR, "予期しないエラーが発生しました。", "An unexpected error occurred."},
    {IDS_HOLD_MINUTES_LEFT, "手動で抑止中 残り %1 分", "busy: kept awake by hand, %1 min left"},
    {IDS_HOLD_NO_END, "手動で抑止中", "busy: kept awake by hand"},
    {IDS_KEEP_AWAKE_BAD_VALUE,
     "--keep-awake の値 '%1' は使えません。30m、2h、45s のような 366 日までの長さか、解除なら 0 "
     "または off を指定してください。値を省くと解除するまで抑止します。",
     "--keep-awake: '%1' is not a length. Give one of up to 366 days, such as 30m, 2h or 45s, or "
     "0 or off to stop; without a value the machine is kept awake until stopped."},
    {IDS_KEEP_AWAKE_NOT_TAKEN, "起動中の Dozerin が要求を受け付けませんでした。",
     "The running Dozerin did not take the request."},
    {IDS_NOT_RUNNING, "Dozerin は起動していません。", "Dozerin is not running."},
    {IDS_HOLD_WHILE, "%1 の終了まで抑止中", "busy: kept awake for %1"},
    {IDS_WHILE_NO_COMMAND,
     "--while の後に、実行するコマンドを指定してください（例: dozerin --while make）。",
     "--while needs the command to run after it, such as: dozerin --while make"},
    {IDS_WHILE_NOT_STARTED, "%1 を起動できませんでした。", "%1 could not be started."},
    {IDS_BATTERY_FLOOR, "バッテリー残量 %1 %のため抑止を停止中",
     "idle: on battery at %1 % (keeping awake stops at %2 %)"},
    {IDS_BATTERY_BY_HAND_ONLY, "バッテリー駆動中のため自動の抑止を停止中",
     "idle: on battery (only a hold by hand keeps the machine awake)"},
    {IDS_WHILE_BATCH_REFUSED,
     "バッチファイル %1 の引数に cmd.exe が特別に扱う文字（& | < > ^ % "
     "または引用符）があるため、実行しません。",
     "%1 is a batch file whose arguments hold characters cmd.exe treats specially (& | < > ^ % or "
     "quotes): it is not run."},
    {kTextMenuKeepAwake, "スリープさせない", "Keep awake"},
    {ID_HOLD_30MIN, "30 分", "30 minutes"},
    {ID_HOLD_1HOUR, "1 時間", "1 hour"},
    {ID_HOLD_2HOURS, "2 時間", "2 hours"},
    {ID_HOLD_4HOURS, "4 時間", "4 hours"},
    {ID_HOLD_NO_END, "無期限", "Indefinitely"},
    {ID_HOLD_STOP, "解除", "Stop"},
    {kTextMenuSettings, "設定(&S)", "Settings(&S)"},
    {kTextMenuClose, "閉じる(&X)", "Exit(&X)"},
    {kTextNoDisplay, "X11 のディスプレイがないため、ウインドウとマウスは監視できません。",
     "There is no X11 display: windows and the mouse cannot be watched."},
    {kTextWaylandX11Only,
     "Wayland のセッションでは、X11 (XWayland) "
     "のウインドウと、その上でのマウスの動きしか監視できません。",
     "On this Wayland session only X11 (XWayland) windows, and the mouse over them, can be "
     "watched."},
    {kTextKdeNeedsEntry,
     "KDE はウインドウの一覧を、デスクトップエントリのあるインストール済みのプログラムにしか渡しま"
     "せん。インストールした dozerin を起動してください。それまでは X11 (XWayland) "
     "のウインドウしか監視できません。",
     "KDE lists its windows only to an installed program with a desktop entry: start the installed "
     "dozerin (for example from the application menu). Until then only X11 (XWayland) windows can "
     "be watched."},
    {kTextNoWindowList,
     "このコンポジターはウインドウの一覧を提供しないため、X11 (XWayland) "
     "のウインドウしか監視できません。",
     "This compositor offers no window list: only X11 (XWayland) windows can be watched."},
    {kTextGnomeNeedsExtension,
     "GNOME のウインドウは Dozerin の GNOME Shell 拡張機能が一覧にしますが、有効になっていません。"
     "「gnome-extensions enable dozerin45@dozerin.org」(GNOME 43、44 では "
     "dozerin@dozerin.org) を実行してください。それまでは X11 (XWayland) "
     "のウインドウしか監視できず、GNOME 49 以降ではウインドウを監視できません。",
     "On GNOME, Dozerin's shell extension lists the windows, and it is not enabled: run "
     "\"gnome-extensions enable dozerin45@dozerin.org\" (on GNOME 43 and 44, "
     "dozerin@dozerin.org). Until then only X11 (XWayland) windows can be watched, and on GNOME 49 "
     "and later none."},
    {kTextNoTrayTitle, "Dozerin は動作しています", "Dozerin is running"},
    {kTextNoTrayBody,
     "アイコンを表示するトレイがありません。設定は「dozerin --settings」で開き、"
     "スリープさせない理由は「dozerin --status」で確認できます。",
     "There is no tray to show its icon in. Open the settings with \"dozerin --settings\", and see "
     "why the computer is kept awake with \"dozerin --status\"."},
    {kTextNothingToShow,
     "アイコンや設定を表示するディスプレイがありません。ログのみで動作を続けます。",
     "There is no display to show the icon or the settings on: running on, log only."},
    {kTextInstanceUnreachable, "Dozerin は動作中ですが、セッションバスで応答しません。",
     "Dozerin is running but does not answer on the session bus."},
};

struct KeyedText {
  const char* key;
  const char* japanese;
  const char* english;
};

// The settings dialog's texts, in the order of the templates of res/dozerin.rc.
constexpr KeyedText kDialogTexts[] = {
    {"general", "基本設定", "General"},
    {"general.threshold", "閾値によるサスペンド抑止", "Keep awake above a threshold"},
    {"general.network", "ネットワーク送受信量(&T)：", "Network &traffic:"},
    {"general.kbs", "KB/s", "KB/s"},
    {"general.cpu", "CPU使用率(&U)：", "CPU &usage:"},
    {"general.percent", "%", "%"},
    {"general.disk", "ディスク転送量(&D)：", "&Disk transfers:"},
    {"general.mouse_group", "マウスによるサスペンド抑止", "Keep awake on mouse movement"},
    {"general.mouse", "マウスカーソルの移動を検出する(&M)", "Detect &mouse cursor movement"},
    {"general.margin", "抑止維持（マージンモード）(&L)：", "Keep awake after (margin)(&L):"},
    {"general.seconds", "秒", "s"},
    {"process", "監視プロセス", "Processes"},
    {"process.heading", "以下のプロセスが存在する場合、サスペンド抑止",
     "Keep awake while one of these processes runs"},
    {"window", "監視ウインドウ", "Windows"},
    {"window.heading", "以下のウインドウが存在する場合、サスペンド抑止",
     "Keep awake while one of these windows exists"},
    {"list.add", "追加(&A)", "&Add"},
    {"list.delete", "削除(&D)", "&Delete"},
    {"option", "拡張設定", "Options"},
    {"option.method", "抑止方法", "How to keep awake"},
    {"option.display", "ディスプレイもアクティブにする(&D)", "Keep the &display on as well"},
    {"option.battery_hold", "バッテリー駆動中も自動で抑止する(&B)",
     "Keep awake automatically on &battery too"},
    {"option.battery_floor", "抑止を停止するバッテリー残量(&F)：", "Stop at a battery charge o&f:"},
    {"option.battery_unit", "% 以下", "% or less"},
    {"option.resume", "サスペンドからの復帰時の処理", "On resume from suspend"},
    {"option.reset_display", "復帰時にディスプレイをアクティブにする(&A)",
     "Turn the display on (&A)"},
    {"option.margin", "復帰時にマージンモード状態にする(&M)", "Start a &margin"},
    {"option.autostart", "ログイン時に起動する", "Start at log-in"},
    {"connection", "接続", "Connection"},
    {"connection.heading", "以下のポートへの接続がある場合、サスペンド抑止",
     "Keep awake while someone is connected to one of these ports"},
    {"add_process", "監視プロセスの追加", "Add a watched process"},
    {"add_process.prompt", "追加したいプロセス名を入力してください",
     "Enter the name of the process to add"},
    {"add_process.note", "※拡張子(.exe）まで含む必要があります。",
     "* Include the extension (.exe) on Windows."},
    {"add_window", "監視ウインドウの追加", "Add a watched window"},
    {"add_window.prompt", "追加したいウインドウ名を入力してください",
     "Enter the title of the window to add"},
    {"add_window.note", "※ワイルドカード(*,?）が利用できます。", "* Wildcards (*, ?) may be used."},
    {"add_connection", "監視ポートの追加", "Add a watched port"},
    {"add_connection.prompt", "追加したいポート番号を入力してください",
     "Enter the number of the local port to add"},
    {"add_connection.note", "※1 から 65535 までの番号です（例: 22、3389）。",
     "* A number from 1 to 65535, such as 22 or 3389."},
    {"ok", "OK", "OK"},
    {"cancel", "キャンセル", "Cancel"},
};

}  // namespace

std::vector<std::string_view> DialogTextKeys() {
  std::vector<std::string_view> keys;
  for (const KeyedText& t : kDialogTexts) keys.emplace_back(t.key);
  return keys;
}

std::string_view DialogText(std::string_view key, bool japanese) {
  for (const KeyedText& t : kDialogTexts) {
    if (key == t.key) return japanese ? t.japanese : t.english;
  }
  return {};
}

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
