#include "settings/settings_pages.h"

#include <limits>

#include "res/resource.h"
#include "settings/settings_store.h"

namespace dozerin {
namespace {

constexpr std::uint32_t kMaxKilobytes = 4194303;  // times 1024 still fits 32 unsigned bits
constexpr std::uint32_t kMaxPercent = 100;
constexpr std::uint32_t kMaxMarginSeconds = 2147483647;

}  // namespace

std::optional<std::uint64_t> ParseUnsignedField(const std::string& full_text) {
  const std::string text = full_text.substr(0, 63);
  std::size_t pos = 0;
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
  if (pos == text.size() || text[pos] < '0' || text[pos] > '9') return std::nullopt;
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t value = 0;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
    const auto digit = static_cast<std::uint64_t>(text[pos] - '0');
    value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
  }
  return value;
}

std::int32_t FlagShown(std::uint32_t stored) {
  return stored == 1 ? 1 : 0;
}

void CPageGeneral::Initialize() {
  view_.SetSpinRange(IDC_NETWORK_SPIN, 0, kMaxKilobytes);
  view_.SetSpinRange(IDC_CPU_SPIN, 0, kMaxPercent);
  view_.SetSpinRange(IDC_MARGIN_SPIN, 0, kMaxMarginSeconds);
  view_.SetSpinRange(IDC_DISK_SPIN, 0, kMaxKilobytes);
  network_ = ToKilobytes(store_.ReadInt(settings::kNetworkTraffic));
  cpu_ = store_.ReadInt(settings::kCpuUsage);
  mouse_ = FlagShown(store_.ReadInt(settings::kMouseCap));
  margin_ = store_.ReadInt(settings::kMaxMargin);
  disk_ = store_.ReadInt(settings::kDiskTraffic);
  Show();
}

void CPageGeneral::Show() {
  view_.SetItemText(IDC_NETWORK_TRAFFIC, std::to_string(network_));
  view_.SetItemText(IDC_CPU_USAGE, std::to_string(cpu_));
  view_.SetItemText(IDC_DISK_TRAFFIC, std::to_string(disk_));
  view_.SetChecked(IDC_MOUSE_CAP, mouse_ == 1);
  view_.SetItemText(IDC_MAX_MARGIN, std::to_string(margin_));
}

bool CPageGeneral::CheckField(int id, std::uint32_t high, std::uint32_t* value) {
  const std::optional<std::uint64_t> number = ParseUnsignedField(view_.ItemText(id));
  if (!number) {
    view_.ShowNotAnInteger();
  } else if (*number > high) {
    view_.ShowOutOfRange(0, high);
  } else {
    *value = static_cast<std::uint32_t>(*number);
    return true;
  }
  view_.FocusAndSelectAll(id);
  return false;
}

bool CPageGeneral::Check() {
  if (!CheckField(IDC_NETWORK_TRAFFIC, kMaxKilobytes, &network_)) return false;
  if (!CheckField(IDC_CPU_USAGE, kMaxPercent, &cpu_)) return false;
  if (!CheckField(IDC_DISK_TRAFFIC, kMaxKilobytes, &disk_)) return false;
  mouse_ = view_.Checked(IDC_MOUSE_CAP) ? 1 : 0;
  return CheckField(IDC_MAX_MARGIN, kMaxMarginSeconds, &margin_);
}

bool CPageGeneral::Save() {
  if (!Check()) return false;
  const bool written = store_.WriteInt(settings::kNetworkTraffic, ToStored(network_)) &&
                       store_.WriteInt(settings::kCpuUsage, static_cast<std::int32_t>(cpu_)) &&
                       store_.WriteInt(settings::kMouseCap, mouse_) &&
                       store_.WriteInt(settings::kMaxMargin, static_cast<std::int32_t>(margin_)) &&
                       store_.WriteInt(settings::kDiskTraffic, static_cast<std::int32_t>(disk_));
  if (!written) view_.ShowWriteFailed();
  return written;
}

void CPageOption::Initialize() {
  busy_display_ = FlagShown(store_.ReadInt(settings::kBusyDisplay));
  display_on_wakeup_ = FlagShown(store_.ReadInt(settings::kResetDisplayOnWakeup));
  margin_on_wakeup_ = FlagShown(store_.ReadInt(settings::kSetMarginOnWakeup));
  view_.SetChecked(IDC_BUSY_DISPLAY, busy_display_ == 1);
  view_.SetChecked(IDC_SET_MARGIN_ON_WAKEUP, margin_on_wakeup_ == 1);
  view_.SetChecked(IDC_RESET_DISPLAY_ON_WAKEUP, display_on_wakeup_ == 1);
  // Any value but 0 holds on battery, as the program reads the key; a floor it takes as off
  // (above 100) shows as 0.
  battery_hold_ = store_.ReadInt(settings::kBatteryHold) != 0 ? 1 : 0;
  battery_floor_ = store_.ReadInt(settings::kBatteryFloor);
  if (battery_floor_ > kMaxPercent) battery_floor_ = 0;
  view_.SetChecked(IDC_BATTERY_HOLD, battery_hold_ == 1);
  view_.SetItemText(IDC_BATTERY_FLOOR, std::to_string(battery_floor_));
}

bool CPageOption::Save() {
  const std::optional<std::uint64_t> floor = ParseUnsignedField(view_.ItemText(IDC_BATTERY_FLOOR));
  if (!floor || *floor > kMaxPercent) {
    if (!floor) {
      view_.ShowNotAnInteger();
    } else {
      view_.ShowOutOfRange(0, kMaxPercent);
    }
    view_.FocusAndSelectAll(IDC_BATTERY_FLOOR);
    return false;
  }
  battery_floor_ = static_cast<std::uint32_t>(*floor);
  battery_hold_ = view_.Checked(IDC_BATTERY_HOLD) ? 1 : 0;
  busy_display_ = view_.Checked(IDC_BUSY_DISPLAY) ? 1 : 0;
  margin_on_wakeup_ = view_.Checked(IDC_SET_MARGIN_ON_WAKEUP) ? 1 : 0;
  display_on_wakeup_ = view_.Checked(IDC_RESET_DISPLAY_ON_WAKEUP) ? 1 : 0;
  const bool written =
      store_.WriteInt(settings::kBusyDisplay, busy_display_) &&
      store_.WriteInt(settings::kResetDisplayOnWakeup, display_on_wakeup_) &&
      store_.WriteInt(settings::kSetMarginOnWakeup, margin_on_wakeup_) &&
      store_.WriteInt(settings::kBatteryHold, battery_hold_) &&
      store_.WriteInt(settings::kBatteryFloor, static_cast<std::int32_t>(battery_floor_));
  if (!written) view_.ShowWriteFailed();
  return written;
}

void CPageList::Initialize() {
  for (const std::string& entry : store_.ReadList(ids_.section)) {
    view_.AppendListEntry(ids_.list, entry);
  }
}

bool CPageList::Save() {
  const bool written = store_.WriteList(ids_.section, view_.ListEntries(ids_.list));
  if (!written) view_.ShowWriteFailed();
  return written;
}

void CPageList::OnCommand(int id) {
  if (id == ids_.add) {
    const std::optional<std::string> text = view_.RunAddDialog(ids_.add_dialog);
    if (!text) return;
    if (const std::optional<std::string> entry = Entry(*text)) {
      view_.AppendListEntry(ids_.list, *entry);
    }
  } else if (id == ids_.remove) {
    const int selected = view_.ListSelection(ids_.list);
    if (selected >= 0) view_.RemoveListEntry(ids_.list, selected);
  }
}

CPageProcess::CPageProcess(SettingsStore& store, PageView& view)
    : CPageList(store, view,
                {settings::kProcess, IDC_PROCESS_LIST, IDC_PROCESS_ADD, IDC_PROCESS_DELETE,
                 IDD_ADD_PROCESS}) {}

CPageWindow::CPageWindow(SettingsStore& store, PageView& view)
    : CPageList(
          store, view,
          {settings::kWindow, IDC_WINDOW_LIST, IDC_WINDOW_ADD, IDC_WINDOW_DELETE, IDD_ADD_WINDOW}) {
}

CPageConnection::CPageConnection(SettingsStore& store, PageView& view)
    : CPageList(store, view,
                {settings::kConnection, IDC_CONNECTION_LIST, IDC_CONNECTION_ADD,
                 IDC_CONNECTION_DELETE, IDD_ADD_CONNECTION}) {}

std::optional<std::string> CPageConnection::Entry(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  const std::size_t last = text.find_last_not_of(" \t");
  const std::string digits = first == std::string::npos ? "" : text.substr(first, last - first + 1);
  const std::optional<std::uint16_t> port = ParsePortEntry(digits);
  if (!port) {
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
      view_.ShowNotAnInteger();
    } else {
      view_.ShowOutOfRange(1, 65535);
    }
    return std::nullopt;
  }
  // Written as the number alone, so that " 022" and "22" are seen as the same port.
  const std::string entry = std::to_string(*port);
  const std::vector<std::string> entries = view_.ListEntries(ids().list);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (ParsePortEntry(entries[i]) == port) {
      view_.SelectListEntry(ids().list, static_cast<int>(i));
      return std::nullopt;
    }
  }
  return entry;
}

}  // namespace dozerin
