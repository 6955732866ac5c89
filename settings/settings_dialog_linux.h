// The settings dialog of the Linux program: the five pages of the Windows sheet in Qt Widgets,
// driven by the same page logic (settings/settings_pages.h), plus the start-at-log-in switch.
#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <memory>

class QTabWidget;
class QCheckBox;
class QLabel;

namespace dozerin {

class SettingsStore;
class SettingsPage;
class QtPageView;

class SettingsDialog : public QDialog {
  Q_OBJECT

 public:
  // autostart_entry: the XDG autostart file the "Start at log-in" box writes or removes;
  // exe: what it starts.
  SettingsDialog(SettingsStore& store, QString autostart_entry, QString exe,
                 QWidget* parent = nullptr);
  ~SettingsDialog() override;

  // The page whose tab is shown (0 General, 1 Process, 2 Window, 3 Option, 4 Connection).
  QTabWidget* tabs() const { return tabs_; }
  // A line shown above the tabs, such as that windows and the mouse cannot be watched.
  void SetNotice(const QString& text);
  // OK: checks the page on screen, then saves the pages shown so far in tab order, stopping at
  // the first that fails (the dialog stays open on it). Closes the dialog when all saved.
  void accept() override;

 private:
  void OnTabChanged(int index);

  SettingsStore& store_;
  QString autostart_entry_;
  QString exe_;
  QTabWidget* tabs_ = nullptr;
  QCheckBox* autostart_ = nullptr;
  QLabel* notice_ = nullptr;
  static constexpr int kPages = 5;
  std::array<std::unique_ptr<QtPageView>, kPages> views_;
  std::array<std::unique_ptr<SettingsPage>, kPages> pages_;
  std::array<bool, kPages> shown_{};
  int current_ = 0;
  bool switching_back_ = false;
};

// Where the "Start at log-in" box puts its entry: $XDG_CONFIG_HOME/autostart/dozerin.desktop.
QString AutostartEntry();
// Whether the autostart entry exists, and writing or removing it (false when that failed).
bool AutostartEnabled(const QString& entry);
bool SetAutostart(const QString& entry, const QString& exe, bool enabled);

// What the autostart entry starts the program with, in its Exec line where it can be read and
// changed: glibc's per-thread cache of freed blocks off. With the cache on, the main heap of a
// program that runs for months goes on reaching new pages when the settings are opened among
// holds and suspends; with it off it keeps the pages it has.
inline constexpr char kAutostartTunables[] = "GLIBC_TUNABLES=glibc.malloc.tcache_count=0";

}  // namespace dozerin
