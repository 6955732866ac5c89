// The pages of the settings sheet as plain logic: what each page reads when it is first shown,
// how it checks its fields, and what it writes at OK. The dialog around them is the platform's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dozerin {

class SettingsStore;

// What a page needs from its dialog.
class PageView {
 public:
  virtual ~PageView() = default;
  virtual std::string ItemText(int id) = 0;
  virtual void SetItemText(int id, const std::string& text) = 0;
  virtual bool Checked(int id) = 0;
  virtual void SetChecked(int id, bool checked) = 0;
  virtual void SetSpinRange(int id, std::uint32_t low, std::uint32_t high) = 0;
  // After a failed check: the field gets the keyboard focus with all its text selected.
  virtual void FocusAndSelectAll(int id) = 0;
  // Message boxes (OK button, exclamation icon, application title).
  virtual void ShowNotAnInteger() = 0;
  virtual void ShowOutOfRange(std::uint32_t low, std::uint32_t high) = 0;
  virtual void ShowWriteFailed() = 0;
  // List boxes.
  virtual std::vector<std::string> ListEntries(int id) = 0;
  virtual void AppendListEntry(int id, const std::string& text) = 0;
  virtual int ListSelection(int id) = 0;  // -1 when nothing is selected
  virtual void RemoveListEntry(int id, int index) = 0;
  virtual void SelectListEntry(int id, int index) = 0;
  // Shows an add dialog modally; its text when it ended with OK.
  virtual std::optional<std::string> RunAddDialog(int template_id) = 0;
};

class SettingsPage {
 public:
  SettingsPage(SettingsStore& store, PageView& view) : store_(store), view_(view) {}
  virtual ~SettingsPage() = default;
  // First display in a showing of the sheet: reads the page's keys and shows them.
  virtual void Initialize() = 0;
  // The page is shown again after another tab: it shows the values it took when it was left.
  virtual void Activate() {}
  // Leaving the page, or OK while it is on screen: false (after its message) keeps the page.
  virtual bool Check() { return true; }
  // OK: writes the page's keys; false after a message when that failed.
  virtual bool Save() = 0;
  // A button of the page was clicked.
  virtual void OnCommand(int /*id*/) {}

 protected:
  SettingsStore& store_;
  PageView& view_;
};

// The field rule of the number fields: after optional blanks, an unsigned decimal number (of the
// field's first 63 characters; what follows the digits is not looked at). Numbers too large for
// 64 bits come back as the largest 64-bit value.
std::optional<std::uint64_t> ParseUnsignedField(const std::string& text);

class CPageGeneral : public SettingsPage {
 public:
  using SettingsPage::SettingsPage;
  void Initialize() override;
  void Activate() override { Show(); }
  bool Check() override;
  bool Save() override;

  // KB/s of the file's bytes per second, and back (in 32 bits, as the file stores it).
  static std::uint32_t ToKilobytes(std::uint32_t bytes_per_second) {
    return bytes_per_second >> 10;
  }
  static std::int32_t ToStored(std::uint32_t kilobytes) {
    return static_cast<std::int32_t>(kilobytes << 10);
  }

 private:
  bool CheckField(int id, std::uint32_t high, std::uint32_t* value);
  void Show();

  std::uint32_t network_ = 0;  // KB/s
  std::uint32_t cpu_ = 0;
  std::uint32_t disk_ = 0;  // KB/s, as the file stores it
  std::int32_t mouse_ = 0;
  std::uint32_t margin_ = 0;
};

class CPageOption : public SettingsPage {
 public:
  using SettingsPage::SettingsPage;
  void Initialize() override;
  bool Save() override;

 private:
  std::int32_t busy_display_ = 0;
  std::int32_t margin_on_wakeup_ = 0;
  std::int32_t display_on_wakeup_ = 0;
  std::int32_t battery_hold_ = 1;
  std::uint32_t battery_floor_ = 0;  // percent, 0 for off
};

// A page that edits one numbered list: the entries in stored order, added through a dialog,
// deleted by selection.
class CPageList : public SettingsPage {
 public:
  struct Ids {
    const char* section;
    int list, add, remove, add_dialog;
  };
  CPageList(SettingsStore& store, PageView& view, const Ids& ids)
      : SettingsPage(store, view), ids_(ids) {}
  void Initialize() override;
  bool Save() override;
  void OnCommand(int id) override;

 protected:
  // What an add dialog's text becomes in the list; nothing (after a message, or with the entry
  // it repeats selected) when it is not taken.
  virtual std::optional<std::string> Entry(const std::string& text) { return text; }
  const Ids& ids() const { return ids_; }

 private:
  Ids ids_;
};

class CPageProcess : public CPageList {
 public:
  CPageProcess(SettingsStore& store, PageView& view);
};

class CPageWindow : public CPageList {
 public:
  CPageWindow(SettingsStore& store, PageView& view);
};

// Local TCP ports: a number from 1 to 65535, each port once.
class CPageConnection : public CPageList {
 public:
  CPageConnection(SettingsStore& store, PageView& view);

 protected:
  std::optional<std::string> Entry(const std::string& text) override;
};

// A check box shows 1 as checked and 0 as cleared; anything else (the program never stores it)
// shows cleared and counts as 0.
std::int32_t FlagShown(std::uint32_t stored);

}  // namespace dozerin
