// The Linux settings dialog with its real widgets: checks and their messages, focus, which pages
// save and in what order, lists and the add dialog, a failed write keeping the dialog open, the
// start-at-log-in entry, memory after many dialogs. With $DOZERIN_SHOTS set it also leaves pictures
// of every page and both add dialogs, in Japanese and in English.
#include "settings/settings_dialog_linux.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QtTest/QTest>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <tuple>

#include "control/xlib_requests_linux.h"
#include "res/resource.h"
#include "settings/settings_store.h"
#include "tests/test_support.h"

namespace dozerin {
namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void Shot(QWidget* w, const std::string& name) {
  const char* folder = std::getenv("DOZERIN_SHOTS");
  if (folder == nullptr) return;
  QApplication::processEvents();
  w->grab().save(QString::fromStdString(std::string(folder) + "/" + name + ".png"));
}

// Runs action; the modal window it opens (a message box or an add dialog) is handed to handle
// and must be closed there. Returns whether one opened.
bool WithModal(const std::function<void()>& action, const std::function<void(QWidget*)>& handle) {
  bool seen = false;
  QTimer timer;
  timer.setInterval(20);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && qobject_cast<SettingsDialog*>(modal) == nullptr && !seen) {
      seen = true;
      handle(modal);
    }
  });
  timer.start();
  action();
  QApplication::processEvents();
  timer.stop();
  return seen;
}

// The text of the message box that action shows, which is then closed.
std::string MessageOf(const std::function<void()>& action) {
  std::string text = "<none>";
  WithModal(action, [&](QWidget* w) {
    if (auto* box = qobject_cast<QMessageBox*>(w)) text = box->text().toStdString();
    QMetaObject::invokeMethod(w, "accept", Qt::QueuedConnection);
  });
  return text;
}

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("LANG", "C.UTF-8", 1);
    store_.SetPath(dir_.File("dozerin.ini"));
  }
  void Open(const std::string& ini) {
    testing::WriteFileBytes(dir_.File("dozerin.ini"), ini);
    dialog_ = std::make_unique<SettingsDialog>(
        store_, QString::fromStdString(dir_.File("auto/dozerin.desktop")),
        QStringLiteral("/opt/dozerin/dozerin"));
    dialog_->show();
    QApplication::processEvents();
  }
  template <typename W>
  W* Find(int id) {
    for (W* w : dialog_->findChildren<W*>()) {
      if (w->property("control").toInt() == id) return w;
    }
    return nullptr;
  }
  QLineEdit* Field(int id) { return Find<QLineEdit>(id); }
  void Tab(int index) {
    dialog_->tabs()->setCurrentIndex(index);
    QApplication::processEvents();
  }
  void Ok() { dialog_->accept(); }
  void Add(int button, const QString& text) {
    WithModal([&] { Find<QPushButton>(button)->click(); },
              [&](QWidget* w) {
                auto* field = w->findChild<QLineEdit*>();
                QPushButton* ok = w->findChildren<QPushButton*>().first();
                EXPECT_FALSE(ok->isEnabled());
                field->setText(text);
                EXPECT_TRUE(ok->isEnabled());
                QMetaObject::invokeMethod(ok, "click", Qt::QueuedConnection);
              });
  }
  std::string Ini() { return Read(dir_.File("dozerin.ini")); }

  testing::ScratchDir dir_;
  SettingsStore store_;
  std::unique_ptr<SettingsDialog> dialog_;
};

TEST_F(DialogTest, BadFieldsAreRefusedWithTheirMessagesAndTheFieldGetsTheFocus) {
  Open("[GENERAL]\nMaxMargin=-1\n");
  EXPECT_EQ(Field(IDC_MAX_MARGIN)->text(), "4294967295");
  const struct {
    int field;
    const char* text;
    const char* message;
  } rows[] = {
      {IDC_MAX_MARGIN, nullptr, "Please enter an integer between 0 and 2147483647."},
      {IDC_CPU_USAGE, "101", "Please enter an integer between 0 and 100."},
      {IDC_NETWORK_TRAFFIC, "", "Please enter a positive integer."},
      {IDC_NETWORK_TRAFFIC, "4194304", "Please enter an integer between 0 and 4194303."},
  };
  Field(IDC_MAX_MARGIN)->setText("4294967295");
  for (const auto& r : rows) {
    if (r.text != nullptr) Field(r.field)->setText(r.text);
    EXPECT_EQ(MessageOf([&] { Ok(); }), r.message);
    EXPECT_TRUE(dialog_->isVisible());
    EXPECT_EQ(dialog_->focusWidget(), Field(r.field));
    EXPECT_EQ(Field(r.field)->selectedText(), Field(r.field)->text());
    Field(r.field)->setText("1");
  }
  // Leaving the tab checks it too.
  Field(IDC_CPU_USAGE)->setText("x");
  EXPECT_EQ(MessageOf([&] { Tab(2); }), "Please enter a positive integer.");
  EXPECT_EQ(dialog_->tabs()->currentIndex(), 0);
  EXPECT_EQ(Ini(), "[GENERAL]\nMaxMargin=-1\n");  // nothing written
}

TEST_F(DialogTest, ShownPagesSaveInOrderListsRenumberAndAFailedWriteKeepsTheDialogOpen) {
  // The second entry is in code page 932, as a Windows INI file holds it: kept byte for byte.
  Open("[GENERAL]\nLog=1\n[PROCESS]\n0=a\n1=\x83\x65\x83\x58\x83\x67\n3=d\n[WINDOW]\n0=keep\n");
  Field(IDC_NETWORK_TRAFFIC)->setText("100");
  Find<QCheckBox>(IDC_MOUSE_CAP)->setChecked(true);
  Tab(1);
  auto* list = Find<QListWidget>(IDC_PROCESS_LIST);
  ASSERT_EQ(list->count(), 2);  // the gap ends the list
  list->setCurrentRow(0);
  Find<QPushButton>(IDC_PROCESS_DELETE)->click();
  Add(IDC_PROCESS_ADD, "vlc");
  Add(IDC_PROCESS_ADD, "vlc");  // duplicates are kept
  Tab(4);
  Add(IDC_CONNECTION_ADD, "22");
  Add(IDC_CONNECTION_ADD, " 22");  // a port is taken once
  Tab(0);
  EXPECT_EQ(Field(IDC_NETWORK_TRAFFIC)->text(), "100");  // edits survive a tab switch
  Ok();
  EXPECT_FALSE(dialog_->isVisible());
  // The Window and Option pages were never shown: they wrote nothing.
  EXPECT_EQ(Ini(),
            "[GENERAL]\nLog=1\nNetworkTraffic=102400\nCPUUsage=0\nMouseCap=1\nMaxMargin=0\n"
            "DiskTraffic=0\n[PROCESS]\n0=\x83\x65\x83\x58\x83\x67\n1=vlc\n2=vlc\n[WINDOW]\n"
            "0=keep\n[CONNECTION]\n0=22\n");

  // A file that cannot be written: the message, and the dialog stays open.
  store_.SetPath(dir_.File("dozerin.ini") + "/below-a-file.ini");
  dialog_->show();
  EXPECT_EQ(MessageOf([&] { Ok(); }),
            "An error occurred while saving the settings.\nCheck that the installation folder may "
            "be written to.");
  EXPECT_TRUE(dialog_->isVisible());
}

TEST_F(DialogTest, CancelWritesNothing) {
  Open("[GENERAL]\nMaxMargin=5\n");
  Field(IDC_MAX_MARGIN)->setText("60");
  Tab(3);
  dialog_->findChildren<QCheckBox*>().last()->setChecked(true);
  dialog_->reject();
  EXPECT_EQ(Ini(), "[GENERAL]\nMaxMargin=5\n");
  EXPECT_FALSE(testing::FileExists(dir_.File("auto/dozerin.desktop")));
}

TEST_F(DialogTest, StartAtLogInWritesAndRemovesTheAutostartEntry) {
  Open("");
  Tab(3);
  const std::string entry = dir_.File("auto/dozerin.desktop");
  dialog_->findChildren<QCheckBox*>().last()->setChecked(true);
  Ok();
  EXPECT_NE(Read(entry).find("Exec=env GLIBC_TUNABLES=glibc.malloc.tcache_count=0 "
                             "\"/opt/dozerin/dozerin\"\n"),
            std::string::npos);
  EXPECT_NE(Ini().find("BusyDisplay=0"), std::string::npos);
  Open("");
  Tab(3);
  QCheckBox* box = dialog_->findChildren<QCheckBox*>().last();
  EXPECT_TRUE(box->isChecked());
  box->setChecked(false);
  Ok();
  EXPECT_FALSE(testing::FileExists(entry));
}

// Opened on every page and closed, then the main window's round trip (Xlib keeps a note of each
// request until one): once warmed up, more dialogs hold no more memory.
TEST_F(DialogTest, OpenAndCloseHoldsNoMoreMemoryOnceWarm) {
  const auto cycles = [&](int n) {
    for (int i = 0; i < n; ++i) {
      Open("[GENERAL]\nLog=1\n[PROCESS]\n0=make\n[WINDOW]\n0=*Zoom*\n");
      for (int tab = 0; tab < 5; ++tab) Tab(tab);
      dialog_->reject();
      dialog_.reset();
      QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
      SettleXlibRequests();
    }
    return static_cast<long>(mallinfo2().uordblks);
  };
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the address sanitizer's allocator keeps its own books";
#endif
  // A leak (16 B a dialog) shows in both halves; what grew once (a queue, under load), in one.
  const long warm = cycles(200), half = cycles(100), after = cycles(100);
  EXPECT_TRUE(half - warm < 1600 || after - half < 1600) << half - warm << ", " << after - half;
}

TEST_F(DialogTest, Pictures) {
  if (std::getenv("DOZERIN_SHOTS") == nullptr) GTEST_SKIP() << "no picture folder";
  for (const char* lang : {"ja_JP.UTF-8", "C.UTF-8"}) {
    setenv("LANG", lang, 1);
    const std::string suffix = lang[0] == 'j' ? "_ja" : "_en";
    Open(
        "[GENERAL]\nDiskTraffic=20000\n[PROCESS]\n0=vlc\n1=obs\n[WINDOW]\n0=*YouTube*\n"
        "[CONNECTION]\n0=22\n1=5900\n");
    const char* names[] = {"general", "process", "window", "option", "connection"};
    for (int i = 0; i < 5; ++i) {
      Tab(i);
      Shot(dialog_.get(), "linux_page_" + std::string(names[i]) + suffix);
    }
    for (const auto& [tab, button, name, text] :
         {std::tuple{2, IDC_WINDOW_ADD, "window", "*Zoom*"},
          std::tuple{4, IDC_CONNECTION_ADD, "connection", "3389"}}) {
      Tab(tab);
      WithModal([&] { Find<QPushButton>(button)->click(); },
                [&, text = text, name = name](QWidget* w) {
                  w->findChild<QLineEdit*>()->setText(text);
                  Shot(w, std::string("linux_add_") + name + suffix);
                  QMetaObject::invokeMethod(w, "reject", Qt::QueuedConnection);
                });
    }
    Tab(1);
    WithModal([&] { Find<QPushButton>(IDC_PROCESS_ADD)->click(); },
              [&](QWidget* w) {
                w->findChild<QLineEdit*>()->setText("handbrake");
                Shot(w, "linux_add_process" + suffix);
                QMetaObject::invokeMethod(w, "reject", Qt::QueuedConnection);
              });
  }
}

}  // namespace
}  // namespace dozerin

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
