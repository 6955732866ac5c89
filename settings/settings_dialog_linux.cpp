#include "settings/settings_dialog_linux.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <map>
#include <tuple>

#include "res/resource.h"
#include "res/texts.h"
#include "settings/settings_pages.h"
#include "settings/settings_store.h"

namespace dozerin {
namespace {

QString T(const char* key) {
  const std::string_view text = DialogText(key, JapaneseLocale());
  return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

QString Ui(int id) {
  const std::string_view text = UiText(id, JapaneseLocale());
  return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

// A number field with up and down buttons, like an edit control with its up-down buddy: the text
// is free (the page checks it), the buttons and arrow keys step within the range.
class SpinField : public QWidget {
 public:
  explicit SpinField(QWidget* parent) : QWidget(parent), edit_(new QLineEdit(this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    edit_->setAlignment(Qt::AlignRight);
    row->addWidget(edit_);
    auto* buttons = new QVBoxLayout;
    buttons->setSpacing(0);
    for (int step : {1, -1}) {
      auto* b = new QToolButton(this);
      b->setArrowType(step > 0 ? Qt::UpArrow : Qt::DownArrow);
      b->setFixedSize(16, 11);
      b->setFocusPolicy(Qt::NoFocus);
      b->setAutoRepeat(true);
      connect(b, &QToolButton::clicked, this, [this, step] { Step(step); });
      buttons->addWidget(b);
    }
    row->addLayout(buttons);
    edit_->installEventFilter(this);
    setFocusProxy(edit_);
  }
  QLineEdit* edit() const { return edit_; }
  void SetRange(std::uint32_t low, std::uint32_t high) {
    low_ = low;
    high_ = high;
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == edit_ && event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Up || key == Qt::Key_Down) {
        Step(key == Qt::Key_Up ? 1 : -1);
        return true;
      }
    }
    return QWidget::eventFilter(watched, event);
  }

 private:
  void Step(int step) {
    const std::optional<std::uint64_t> now = ParseUnsignedField(edit_->text().toStdString());
    std::uint64_t value = now ? *now : low_;
    if (step > 0 && value < high_) ++value;
    if (step < 0 && value > low_) --value;
    if (value > high_) value = high_;
    edit_->setText(QString::number(value));
  }

  QLineEdit* edit_;
  std::uint64_t low_ = 0;
  std::uint64_t high_ = 0;
};

// The add dialog of a list page: OK only while the field holds a character.
class AddDialog : public QDialog {
 public:
  AddDialog(const char* which, QWidget* parent) : QDialog(parent) {
    setWindowTitle(T(which));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(T((std::string(which) + ".prompt").c_str()), this));
    field_ = new QLineEdit(this);
    layout->addWidget(field_);
    layout->addWidget(new QLabel(T((std::string(which) + ".note").c_str()), this));
    auto* buttons = new QDialogButtonBox(this);
    ok_ = buttons->addButton(T("ok"), QDialogButtonBox::AcceptRole);
    buttons->addButton(T("cancel"), QDialogButtonBox::RejectRole);
    ok_->setEnabled(false);
    ok_->setDefault(true);
    layout->addWidget(buttons);
    connect(field_, &QLineEdit::textChanged, this,
            [this](const QString& text) { ok_->setEnabled(!text.isEmpty()); });
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
      if (ok_->isEnabled()) accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    field_->setFocus();
  }
  QString text() const { return field_->text(); }

 private:
  QLineEdit* field_;
  QPushButton* ok_;
};

}  // namespace

// One page's widgets, found by the control ids of the Windows templates.
class QtPageView : public PageView {
 public:
  explicit QtPageView(QWidget* page) : page_(page) {}
  QWidget* page() const { return page_; }
  void Add(int id, QWidget* w) {
    widgets_[id] = w;
    w->setProperty("control", id);  // tests find controls by the ids of the Windows templates
  }
  void AddSpin(int spin_id, SpinField* field) { spins_[spin_id] = field; }
  template <typename W>
  W* Get(int id) const {
    const auto it = widgets_.find(id);
    return it == widgets_.end() ? nullptr : qobject_cast<W*>(it->second);
  }

  std::string ItemText(int id) override {
    auto* edit = Get<QLineEdit>(id);
    return edit != nullptr ? edit->text().toStdString() : std::string();
  }
  void SetItemText(int id, const std::string& text) override {
    if (auto* edit = Get<QLineEdit>(id)) edit->setText(QString::fromStdString(text));
  }
  bool Checked(int id) override {
    auto* box = Get<QCheckBox>(id);
    return box != nullptr && box->isChecked();
  }
  void SetChecked(int id, bool checked) override {
    if (auto* box = Get<QCheckBox>(id)) box->setChecked(checked);
  }
  void SetSpinRange(int id, std::uint32_t low, std::uint32_t high) override {
    const auto it = spins_.find(id);
    if (it != spins_.end()) it->second->SetRange(low, high);
  }
  void FocusAndSelectAll(int id) override {
    if (auto* edit = Get<QLineEdit>(id)) {
      edit->setFocus();
      edit->selectAll();
    }
  }
  void ShowNotAnInteger() override { Message(Ui(IDS_PARSE_INT)); }
  void ShowOutOfRange(std::uint32_t low, std::uint32_t high) override {
    Message(Ui(IDS_PARSE_INT_RANGE)
                .replace("%1", QString::number(low))
                .replace("%2", QString::number(high)));
  }
  void ShowWriteFailed() override { Message(Ui(IDS_SETTINGS_WRITE_FAILED)); }
  std::vector<std::string> ListEntries(int id) override {
    std::vector<std::string> entries;
    if (auto* list = Get<QListWidget>(id)) {
      for (int i = 0; i < list->count(); ++i) {
        entries.push_back(list->item(i)->data(Qt::UserRole).toByteArray().toStdString());
      }
    }
    return entries;
  }
  // An entry keeps the bytes it came with: one that is not UTF-8 (a Windows INI file's code
  // page 932, say) shows with replacement characters but is written back unchanged.
  void AppendListEntry(int id, const std::string& text) override {
    if (auto* list = Get<QListWidget>(id)) {
      auto* item = new QListWidgetItem(QString::fromStdString(text), list);  // owned by list
      item->setData(Qt::UserRole, QByteArray::fromStdString(text));
    }
  }
  int ListSelection(int id) override {
    auto* list = Get<QListWidget>(id);
    if (list == nullptr || list->selectedItems().isEmpty()) return -1;
    return list->row(list->selectedItems().first());
  }
  void RemoveListEntry(int id, int index) override {
    if (auto* list = Get<QListWidget>(id)) {
      delete list->takeItem(index);  // Qt hands the item over to be deleted
      list->clearSelection();
      list->setCurrentRow(-1);
    }
  }
  void SelectListEntry(int id, int index) override {
    if (auto* list = Get<QListWidget>(id)) list->setCurrentRow(index);
  }
  std::optional<std::string> RunAddDialog(int template_id) override {
    AddDialog dialog(template_id == IDD_ADD_PROCESS  ? "add_process"
                     : template_id == IDD_ADD_WINDOW ? "add_window"
                                                     : "add_connection",
                     page_->window());
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.text().toStdString();
  }

 private:
  void Message(const QString& text) {
    QMessageBox::warning(page_->window(), Ui(IDS_APP_TITLE), text);
  }

  QWidget* page_;
  std::map<int, QWidget*> widgets_;
  std::map<int, SpinField*> spins_;
};

namespace {

// Builds a number row of the General page: label (with its mnemonic), field, unit.
void NumberRow(QGridLayout* grid, int row, QtPageView* view, const char* label, int edit_id,
               int spin_id, const char* unit) {
  QWidget* page = view->page();
  auto* field = new SpinField(page);
  auto* text = new QLabel(T(label), page);
  text->setBuddy(field->edit());
  grid->addWidget(text, row, 0);
  grid->addWidget(field, row, 1);
  grid->addWidget(new QLabel(T(unit), page), row, 2);
  view->Add(edit_id, field->edit());
  view->AddSpin(spin_id, field);
}

QWidget* GeneralPage(QtPageView** view_out, QWidget* parent) {
  auto* page = new QWidget(parent);
  auto* view = new QtPageView(page);
  *view_out = view;
  auto* layout = new QVBoxLayout(page);
  auto* threshold = new QGroupBox(T("general.threshold"), page);
  auto* grid = new QGridLayout(threshold);
  NumberRow(grid, 0, view, "general.network", IDC_NETWORK_TRAFFIC, IDC_NETWORK_SPIN, "general.kbs");
  NumberRow(grid, 1, view, "general.cpu", IDC_CPU_USAGE, IDC_CPU_SPIN, "general.percent");
  NumberRow(grid, 2, view, "general.disk", IDC_DISK_TRAFFIC, IDC_DISK_SPIN, "general.kbs");
  layout->addWidget(threshold);
  auto* mouse_group = new QGroupBox(T("general.mouse_group"), page);
  auto* mouse = new QCheckBox(T("general.mouse"), mouse_group);
  (new QVBoxLayout(mouse_group))->addWidget(mouse);
  view->Add(IDC_MOUSE_CAP, mouse);
  layout->addWidget(mouse_group);
  auto* margin = new QGridLayout;
  NumberRow(margin, 0, view, "general.margin", IDC_MAX_MARGIN, IDC_MARGIN_SPIN, "general.seconds");
  layout->addLayout(margin);
  layout->addStretch();
  return page;
}

QWidget* ListPage(QtPageView** view_out, QWidget* parent, const char* heading, int list_id,
                  int add_id, int delete_id) {
  auto* page = new QWidget(parent);
  auto* view = new QtPageView(page);
  *view_out = view;
  auto* layout = new QGridLayout(page);
  layout->addWidget(new QLabel(T(heading), page), 0, 0, 1, 2);
  auto* list = new QListWidget(page);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  layout->addWidget(list, 1, 0, 3, 1);
  view->Add(list_id, list);
  int row = 1;
  for (const auto& [id, key] :
       {std::pair{add_id, "list.add"}, std::pair{delete_id, "list.delete"}}) {
    auto* button = new QPushButton(T(key), page);
    view->Add(id, button);
    layout->addWidget(button, row++, 1);
  }
  layout->setRowStretch(3, 1);
  return page;
}

QWidget* OptionPage(QtPageView** view_out, QCheckBox** autostart, QWidget* parent) {
  auto* page = new QWidget(parent);
  auto* view = new QtPageView(page);
  *view_out = view;
  auto* layout = new QVBoxLayout(page);
  auto* method = new QGroupBox(T("option.method"), page);
  auto* display = new QCheckBox(T("option.display"), method);
  auto* method_layout = new QVBoxLayout(method);
  method_layout->addWidget(display);
  view->Add(IDC_BUSY_DISPLAY, display);
  auto* battery = new QCheckBox(T("option.battery_hold"), method);
  method_layout->addWidget(battery);
  view->Add(IDC_BATTERY_HOLD, battery);
  auto* floor_row = new QHBoxLayout;
  auto* floor_label = new QLabel(T("option.battery_floor"), method);
  auto* floor = new QLineEdit(method);
  floor->setMaximumWidth(60);
  floor_label->setBuddy(floor);
  floor_row->addWidget(floor_label);
  floor_row->addWidget(floor);
  floor_row->addWidget(new QLabel(T("option.battery_unit"), method));
  floor_row->addStretch();
  method_layout->addLayout(floor_row);
  view->Add(IDC_BATTERY_FLOOR, floor);
  layout->addWidget(method);
  auto* resume = new QGroupBox(T("option.resume"), page);
  auto* resume_layout = new QVBoxLayout(resume);
  auto* reset = new QCheckBox(T("option.reset_display"), resume);
  auto* margin = new QCheckBox(T("option.margin"), resume);
  resume_layout->addWidget(reset);
  resume_layout->addWidget(margin);
  view->Add(IDC_RESET_DISPLAY_ON_WAKEUP, reset);
  view->Add(IDC_SET_MARGIN_ON_WAKEUP, margin);
  layout->addWidget(resume);
  *autostart = new QCheckBox(T("option.autostart"), page);
  layout->addWidget(*autostart);
  layout->addStretch();
  return page;
}

}  // namespace

QString AutostartEntry() {
  const QByteArray config = qgetenv("XDG_CONFIG_HOME");
  const QString folder = config.isEmpty() ? QDir::homePath() + QStringLiteral("/.config")
                                          : QString::fromLocal8Bit(config);
  return folder + QStringLiteral("/autostart/dozerin.desktop");
}

bool AutostartEnabled(const QString& entry) {
  return QFileInfo::exists(entry);
}

bool SetAutostart(const QString& entry, const QString& exe, bool enabled) {
  if (!enabled) return !QFileInfo::exists(entry) || QFile::remove(entry);
  QDir().mkpath(QFileInfo(entry).absolutePath());
  QSaveFile file(entry);
  if (!file.open(QIODevice::WriteOnly)) return false;
  QString quoted = exe;
  quoted.replace(QLatin1String("\\"), QLatin1String("\\\\"))
      .replace(QLatin1String("\""), QLatin1String("\\\""));
  const QString text = QStringLiteral(
                           "[Desktop Entry]\nType=Application\nName=Dozerin\n"
                           "Comment=Keeps the computer awake while it is in use\n"
                           "Exec=env %1 \"%2\"\nIcon=dozerin\nTerminal=false\n"
                           "X-GNOME-Autostart-enabled=true\n")
                           .arg(QLatin1String(kAutostartTunables), quoted);
  file.write(text.toUtf8());
  return file.commit();
}

SettingsDialog::SettingsDialog(SettingsStore& store, QString autostart_entry, QString exe,
                               QWidget* parent)
    : QDialog(parent),
      store_(store),
      autostart_entry_(std::move(autostart_entry)),
      exe_(std::move(exe)) {
  setWindowTitle(Ui(IDS_FRAMEWORK_APP_TITLE));
  auto* layout = new QVBoxLayout(this);
  notice_ = new QLabel(this);
  notice_->setWordWrap(true);
  notice_->hide();
  layout->addWidget(notice_);
  tabs_ = new QTabWidget(this);
  tabs_->setUsesScrollButtons(false);  // the dialog is as wide as its five tabs
  QtPageView* views[kPages] = {};
  tabs_->addTab(GeneralPage(&views[0], tabs_), T("general"));
  tabs_->addTab(ListPage(&views[1], tabs_, "process.heading", IDC_PROCESS_LIST, IDC_PROCESS_ADD,
                         IDC_PROCESS_DELETE),
                T("process"));
  tabs_->addTab(ListPage(&views[2], tabs_, "window.heading", IDC_WINDOW_LIST, IDC_WINDOW_ADD,
                         IDC_WINDOW_DELETE),
                T("window"));
  tabs_->addTab(OptionPage(&views[3], &autostart_, tabs_), T("option"));
  tabs_->addTab(ListPage(&views[4], tabs_, "connection.heading", IDC_CONNECTION_LIST,
                         IDC_CONNECTION_ADD, IDC_CONNECTION_DELETE),
                T("connection"));
  for (int i = 0; i < kPages; ++i) views_[i].reset(views[i]);
  pages_[0] = std::make_unique<CPageGeneral>(store_, *views_[0]);
  pages_[1] = std::make_unique<CPageProcess>(store_, *views_[1]);
  pages_[2] = std::make_unique<CPageWindow>(store_, *views_[2]);
  pages_[3] = std::make_unique<CPageOption>(store_, *views_[3]);
  pages_[4] = std::make_unique<CPageConnection>(store_, *views_[4]);
  // The list pages' buttons reach their page logic.
  for (const auto& [i, add, remove] : {std::tuple{1, IDC_PROCESS_ADD, IDC_PROCESS_DELETE},
                                       std::tuple{2, IDC_WINDOW_ADD, IDC_WINDOW_DELETE},
                                       std::tuple{4, IDC_CONNECTION_ADD, IDC_CONNECTION_DELETE}}) {
    for (int id : {add, remove}) {
      connect(views_[i]->Get<QPushButton>(id), &QPushButton::clicked, this,
              [this, i = i, id] { pages_[i]->OnCommand(id); });
    }
  }
  layout->addWidget(tabs_);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(T("ok"), QDialogButtonBox::AcceptRole)->setDefault(true);
  buttons->addButton(T("cancel"), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);

  pages_[0]->Initialize();
  shown_[0] = true;
  autostart_->setChecked(AutostartEnabled(autostart_entry_));
  connect(tabs_, &QTabWidget::currentChanged, this, &SettingsDialog::OnTabChanged);
}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::SetNotice(const QString& text) {
  notice_->setText(text);
  notice_->setVisible(!text.isEmpty());
}

void SettingsDialog::OnTabChanged(int index) {
  if (switching_back_) return;
  // Leaving a page checks it; a refusing page keeps the tab.
  if (!pages_[current_]->Check()) {
    switching_back_ = true;
    tabs_->setCurrentIndex(current_);
    switching_back_ = false;
    return;
  }
  current_ = index;
  if (!shown_[index]) {
    pages_[index]->Initialize();
    shown_[index] = true;
  } else {
    pages_[index]->Activate();
  }
}

void SettingsDialog::accept() {
  if (!pages_[current_]->Check()) return;
  for (int i = 0; i < kPages; ++i) {
    if (!shown_[i]) continue;  // a page never shown writes nothing
    if (!pages_[i]->Save()) {
      switching_back_ = true;
      tabs_->setCurrentIndex(i);
      switching_back_ = false;
      current_ = i;
      return;
    }
  }
  if (shown_[3] && autostart_->isChecked() != AutostartEnabled(autostart_entry_) &&
      !SetAutostart(autostart_entry_, exe_, autostart_->isChecked())) {
    views_[3]->ShowWriteFailed();
    return;
  }
  QDialog::accept();
}

}  // namespace dozerin
