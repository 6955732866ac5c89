#include "control/status_notifier_linux.h"

#include <unistd.h>

#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QImage>
#include <QMenu>
#include <QMetaObject>
#include <vector>

namespace dozerin {

// One picture of the icon: width, height and ARGB32 pixels in network byte order.
struct SniPixmap {
  int width = 0;
  int height = 0;
  QByteArray argb;
};
using SniPixmaps = QList<SniPixmap>;

// The tooltip: icon name, icon pictures, title and text.
struct SniToolTip {
  QString icon_name;
  SniPixmaps icon;
  QString title;
  QString text;
};

// A menu item with its children, as dbusmenu lays them out.
struct MenuLayout {
  int id = 0;
  QVariantMap properties;
  std::vector<MenuLayout> children;
};

struct MenuItemProperties {
  int id = 0;
  QVariantMap properties;
};
using MenuItemPropertiesList = QList<MenuItemProperties>;

// The names of the properties an item no longer has.
struct MenuItemPropertyNames {
  int id = 0;
  QStringList names;
};
using MenuItemPropertyNamesList = QList<MenuItemPropertyNames>;

struct MenuEvent {
  int id = 0;
  QString event_id;
  QDBusVariant data;
  uint timestamp = 0;
};
using MenuEvents = QList<MenuEvent>;

}  // namespace dozerin

Q_DECLARE_METATYPE(dozerin::SniPixmap)
Q_DECLARE_METATYPE(dozerin::SniToolTip)
Q_DECLARE_METATYPE(dozerin::MenuLayout)
Q_DECLARE_METATYPE(dozerin::MenuItemProperties)
Q_DECLARE_METATYPE(dozerin::MenuItemPropertyNames)
Q_DECLARE_METATYPE(dozerin::MenuEvent)

namespace dozerin {

QDBusArgument& operator<<(QDBusArgument& out, const SniPixmap& p) {
  out.beginStructure();
  out << p.width << p.height << p.argb;
  out.endStructure();
  return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, SniPixmap& p) {
  in.beginStructure();
  in >> p.width >> p.height >> p.argb;
  in.endStructure();
  return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const SniToolTip& t) {
  out.beginStructure();
  out << t.icon_name << t.icon << t.title << t.text;
  out.endStructure();
  return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, SniToolTip& t) {
  in.beginStructure();
  in >> t.icon_name >> t.icon >> t.title >> t.text;
  in.endStructure();
  return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const MenuLayout& item) {
  out.beginStructure();
  out << item.id << item.properties;
  out.beginArray(qMetaTypeId<QDBusVariant>());
  for (const MenuLayout& child : item.children) out << QDBusVariant(QVariant::fromValue(child));
  out.endArray();
  out.endStructure();
  return out;
}
// Only sent, never received; read for completeness without the children.
const QDBusArgument& operator>>(const QDBusArgument& in, MenuLayout& item) {
  in.beginStructure();
  in >> item.id >> item.properties;
  in.beginArray();
  while (!in.atEnd()) {
    QDBusVariant skipped;
    in >> skipped;
  }
  in.endArray();
  in.endStructure();
  return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const MenuItemProperties& item) {
  out.beginStructure();
  out << item.id << item.properties;
  out.endStructure();
  return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, MenuItemProperties& item) {
  in.beginStructure();
  in >> item.id >> item.properties;
  in.endStructure();
  return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const MenuItemPropertyNames& item) {
  out.beginStructure();
  out << item.id << item.names;
  out.endStructure();
  return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, MenuItemPropertyNames& item) {
  in.beginStructure();
  in >> item.id >> item.names;
  in.endStructure();
  return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const MenuEvent& e) {
  out.beginStructure();
  out << e.id << e.event_id << e.data << e.timestamp;
  out.endStructure();
  return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, MenuEvent& e) {
  in.beginStructure();
  in >> e.id >> e.event_id >> e.data >> e.timestamp;
  in.endStructure();
  return in;
}

namespace {

constexpr char kWatcher[] = "org.kde.StatusNotifierWatcher";
constexpr char kItemPath[] = "/StatusNotifierItem";
constexpr char kMenuPath[] = "/MenuBar";

SniPixmaps Pixmaps(const QIcon& icon) {
  SniPixmaps pixmaps;
  for (int size : {16, 22, 24, 32, 48, 64}) {
    const QImage image = icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
    if (image.isNull()) continue;
    SniPixmap p{image.width(), image.height(), {}};
    p.argb.reserve(image.width() * image.height() * 4);
    for (int y = 0; y < image.height(); ++y) {
      const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
      for (int x = 0; x < image.width(); ++x) {
        const QRgb c = line[x];
        for (int shift : {24, 16, 8, 0}) p.argb.append(static_cast<char>((c >> shift) & 0xff));
      }
    }
    pixmaps.append(p);
  }
  return pixmaps;
}

// A menu text with its "&" mnemonic in dbusmenu's "_" form.
QString Label(const QString& text) {
  QString label;
  for (int i = 0; i < text.size(); ++i) {
    if (text[i] == u'&' && i + 1 < text.size()) {
      label += text[i + 1] == u'&' ? QStringLiteral("&") : QStringLiteral("_") + text[i + 1];
      ++i;
    } else if (text[i] == u'_') {
      label += QStringLiteral("__");
    } else {
      label += text[i];
    }
  }
  return label;
}

}  // namespace

struct StatusNotifierItem::Exported {
  QMenu& menu;
  std::function<void()> activate;
  std::function<void(bool)> watcher_changed;
  QIcon icon;
  QString tooltip;
  QString service;
  uint revision = 1;
  std::vector<QAction*> actions;  // the menu's items by id - 1
  QObject item_object;
  QObject menu_object;
  std::unique_ptr<QDBusServiceWatcher> watcher;

  Exported(QMenu& m) : menu(m) {}

  int IdOf(QAction* action) {
    for (std::size_t i = 0; i < actions.size(); ++i) {
      if (actions[i] == action) return static_cast<int>(i) + 1;
    }
    actions.push_back(action);
    return static_cast<int>(actions.size());
  }
  QAction* ActionOf(int id) const {
    return id >= 1 && static_cast<std::size_t>(id) <= actions.size() ? actions[id - 1] : nullptr;
  }
  QMenu* MenuOf(int id) {
    if (id == 0) return &menu;
    QAction* action = ActionOf(id);
    return action != nullptr ? action->menu() : nullptr;
  }

  QVariantMap Properties(QAction* action) {
    QVariantMap p;
    if (action->isSeparator()) {
      p.insert(QStringLiteral("type"), QStringLiteral("separator"));
      return p;
    }
    p.insert(QStringLiteral("label"), Label(action->text()));
    if (!action->isEnabled()) p.insert(QStringLiteral("enabled"), false);
    if (!action->isVisible()) p.insert(QStringLiteral("visible"), false);
    if (action->isCheckable()) {
      p.insert(QStringLiteral("toggle-type"), QStringLiteral("checkmark"));
      p.insert(QStringLiteral("toggle-state"), action->isChecked() ? 1 : 0);
    }
    if (action->menu() != nullptr) {
      p.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    }
    return p;
  }

  MenuLayout Layout(int id, int depth) {
    MenuLayout item;
    item.id = id;
    if (QAction* action = ActionOf(id)) item.properties = Properties(action);
    QMenu* submenu = MenuOf(id);
    if (submenu == nullptr) return item;
    if (id != 0)
      item.properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    if (depth == 0) return item;
    for (QAction* child : submenu->actions()) {
      item.children.push_back(Layout(IdOf(child), depth < 0 ? -1 : depth - 1));
    }
    return item;
  }
};

namespace {

// org.kde.StatusNotifierItem on /StatusNotifierItem.
class ItemAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
  Q_PROPERTY(QString Category READ Category)
  Q_PROPERTY(QString Id READ Id)
  Q_PROPERTY(QString Title READ Title)
  Q_PROPERTY(QString Status READ Status)
  Q_PROPERTY(int WindowId READ WindowId)
  Q_PROPERTY(QString IconName READ Empty)
  Q_PROPERTY(dozerin::SniPixmaps IconPixmap READ IconPixmap)
  Q_PROPERTY(QString OverlayIconName READ Empty)
  Q_PROPERTY(dozerin::SniPixmaps OverlayIconPixmap READ NoPixmaps)
  Q_PROPERTY(QString AttentionIconName READ Empty)
  Q_PROPERTY(dozerin::SniPixmaps AttentionIconPixmap READ NoPixmaps)
  Q_PROPERTY(QString AttentionMovieName READ Empty)
  Q_PROPERTY(dozerin::SniToolTip ToolTip READ ToolTip)
  Q_PROPERTY(bool ItemIsMenu READ ItemIsMenu)
  Q_PROPERTY(QDBusObjectPath Menu READ Menu)

 public:
  ItemAdaptor(QObject* object, StatusNotifierItem::Exported& e)
      : QDBusAbstractAdaptor(object), e_(e) {}

  QString Category() const { return QStringLiteral("ApplicationStatus"); }
  QString Id() const { return QStringLiteral("dozerin"); }
  QString Title() const { return QStringLiteral("Dozerin"); }
  QString Status() const { return QStringLiteral("Active"); }
  int WindowId() const { return 0; }
  QString Empty() const { return {}; }
  SniPixmaps IconPixmap() const { return Pixmaps(e_.icon); }
  SniPixmaps NoPixmaps() const { return {}; }
  SniToolTip ToolTip() const {
    const int cut = e_.tooltip.indexOf(u'\n');
    return {{},
            {},
            cut < 0 ? e_.tooltip : e_.tooltip.left(cut),
            cut < 0 ? QString() : e_.tooltip.mid(cut + 1)};
  }
  bool ItemIsMenu() const { return false; }
  QDBusObjectPath Menu() const { return QDBusObjectPath(QString::fromLatin1(kMenuPath)); }

 public slots:
  // A plain click; it runs after the reply, as it may open a dialog.
  void Activate(int, int) {
    QMetaObject::invokeMethod(
        parent(), [this] { e_.activate(); }, Qt::QueuedConnection);
  }
  void SecondaryActivate(int x, int y) { Activate(x, y); }
  void ContextMenu(int, int) {}
  void Scroll(int, const QString&) {}

 signals:
  void NewIcon();
  void NewToolTip();
  void NewStatus(const QString& status);
  void NewTitle();

 private:
  StatusNotifierItem::Exported& e_;
};

// com.canonical.dbusmenu on /MenuBar.
class MenuAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
  Q_PROPERTY(uint Version READ Version)
  Q_PROPERTY(QString TextDirection READ TextDirection)
  Q_PROPERTY(QString Status READ Status)
  Q_PROPERTY(QStringList IconThemePath READ IconThemePath)

 public:
  MenuAdaptor(QObject* object, StatusNotifierItem::Exported& e)
      : QDBusAbstractAdaptor(object), e_(e) {}

  uint Version() const { return 3; }
  QString TextDirection() const { return QStringLiteral("ltr"); }
  QString Status() const { return QStringLiteral("normal"); }
  QStringList IconThemePath() const { return {}; }

 public slots:
  uint GetLayout(int parent, int depth, const QStringList&, dozerin::MenuLayout& layout) {
    layout = e_.Layout(parent, depth);
    return e_.revision;
  }
  dozerin::MenuItemPropertiesList GetGroupProperties(const QList<int>& ids, const QStringList&) {
    MenuItemPropertiesList list;
    for (int id : ids) {
      if (QAction* action = e_.ActionOf(id)) list.append({id, e_.Properties(action)});
    }
    return list;
  }
  QDBusVariant GetProperty(int id, const QString& name) {
    QAction* action = e_.ActionOf(id);
    return QDBusVariant(action != nullptr ? e_.Properties(action).value(name) : QVariant());
  }
  void Event(int id, const QString& event, const QDBusVariant&, uint) {
    QAction* action = e_.ActionOf(id);
    if (event != QStringLiteral("clicked") || action == nullptr || !action->isEnabled()) return;
    // After the reply: the action may open a dialog or end the program.
    QMetaObject::invokeMethod(
        action, [action] { action->trigger(); }, Qt::QueuedConnection);
  }
  QList<int> EventGroup(const dozerin::MenuEvents& events) {
    for (const MenuEvent& e : events) Event(e.id, e.event_id, e.data, e.timestamp);
    return {};
  }
  // A menu about to open brings its items up to date (the hold's check marks).
  bool AboutToShow(int id) {
    QMenu* menu = e_.MenuOf(id);
    if (menu == nullptr) return false;
    emit menu->aboutToShow();
    if (menu != &e_.menu) emit e_.menu.aboutToShow();
    ++e_.revision;
    emit LayoutUpdated(e_.revision, 0);
    return false;
  }
  QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& errors) {
    for (int id : ids) AboutToShow(id);
    errors.clear();
    return {};
  }

 signals:
  void LayoutUpdated(uint revision, int parent);
  // Spelt without the lists' aliases, which Qt's introspection does not know by those names.
  void ItemsPropertiesUpdated(const QList<dozerin::MenuItemProperties>& updated,
                              const QList<dozerin::MenuItemPropertyNames>& removed);

 private:
  StatusNotifierItem::Exported& e_;
};

}  // namespace

StatusNotifierItem::StatusNotifierItem(QMenu& menu, std::function<void()> activate,
                                       std::function<void(bool present)> watcher_changed)
    : exported_(std::make_unique<Exported>(menu)) {
  qDBusRegisterMetaType<SniPixmap>();
  qDBusRegisterMetaType<SniPixmaps>();
  qDBusRegisterMetaType<SniToolTip>();
  qDBusRegisterMetaType<MenuLayout>();
  qDBusRegisterMetaType<MenuItemProperties>();
  qDBusRegisterMetaType<MenuItemPropertiesList>();
  qDBusRegisterMetaType<MenuItemPropertyNames>();
  qDBusRegisterMetaType<MenuItemPropertyNamesList>();
  qDBusRegisterMetaType<MenuEvent>();
  qDBusRegisterMetaType<MenuEvents>();
  Exported& e = *exported_;
  e.activate = std::move(activate);
  e.watcher_changed = std::move(watcher_changed);
  new ItemAdaptor(&e.item_object, e);  // owned by the object it adapts
  new MenuAdaptor(&e.menu_object, e);
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  e.service = QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(getpid());
  bus.registerObject(QString::fromLatin1(kItemPath), &e.item_object,
                     QDBusConnection::ExportAdaptors);
  bus.registerObject(QString::fromLatin1(kMenuPath), &e.menu_object,
                     QDBusConnection::ExportAdaptors);
  bus.registerService(e.service);
  e.watcher = std::make_unique<QDBusServiceWatcher>(QString::fromLatin1(kWatcher), bus,
                                                    QDBusServiceWatcher::WatchForOwnerChange);
  connect(e.watcher.get(), &QDBusServiceWatcher::serviceOwnerChanged, this,
          [this](const QString&, const QString&, const QString& owner) {
            if (owner.isEmpty()) {
              exported_->watcher_changed(false);
              return;
            }
            Register();
            AskForHost();
          });
  // A watcher with no host shows nothing: kded started by a KDE program on another desktop.
  for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"}) {
    bus.connect(QString::fromLatin1(kWatcher), QStringLiteral("/StatusNotifierWatcher"),
                QString::fromLatin1(kWatcher), QString::fromLatin1(signal), this,
                SLOT(AskForHost()));
  }
  if (WatcherPresent()) Register();
}

void StatusNotifierItem::AskForHost() {
  auto* pending =
      new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(HostQuestion()), this);
  connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    exported_->watcher_changed(HostIn(w->reply()));
  });
}

QDBusMessage StatusNotifierItem::HostQuestion() {
  QDBusMessage ask = QDBusMessage::createMethodCall(
      QString::fromLatin1(kWatcher), QStringLiteral("/StatusNotifierWatcher"),
      QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  ask << QString::fromLatin1(kWatcher) << QStringLiteral("IsStatusNotifierHostRegistered");
  return ask;
}

bool StatusNotifierItem::HostIn(const QDBusMessage& reply) {
  if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QStringLiteral("v")) {
    return false;
  }
  const QVariant value = reply.arguments().at(0).value<QDBusVariant>().variant();
  return value.metaType() == QMetaType::fromType<bool>() && value.toBool();
}

StatusNotifierItem::~StatusNotifierItem() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || exported_->service.isEmpty()) return;
  bus.unregisterService(exported_->service);
  bus.unregisterObject(QString::fromLatin1(kItemPath));
  bus.unregisterObject(QString::fromLatin1(kMenuPath));
}

bool StatusNotifierItem::WatcherPresent() {
  const QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
  return bus != nullptr && bus->isServiceRegistered(QString::fromLatin1(kWatcher)).value();
}

bool StatusNotifierItem::HostPresent() {
  if (!WatcherPresent()) return false;
  return HostIn(QDBusConnection::sessionBus().call(HostQuestion(), QDBus::Block, 2000));
}

void StatusNotifierItem::Register() {
  QDBusMessage call = QDBusMessage::createMethodCall(
      QString::fromLatin1(kWatcher), QStringLiteral("/StatusNotifierWatcher"),
      QString::fromLatin1(kWatcher), QStringLiteral("RegisterStatusNotifierItem"));
  call << exported_->service;
  // The answer is not awaited: a watcher that takes the call lists the item.
  QDBusConnection::sessionBus().asyncCall(call);
}

void StatusNotifierItem::SetIcon(const QIcon& icon) {
  exported_->icon = icon;
  if (QObject* adaptor = exported_->item_object.findChild<ItemAdaptor*>()) {
    QMetaObject::invokeMethod(adaptor, "NewIcon");
  }
}

void StatusNotifierItem::SetToolTip(const QString& text) {
  if (exported_->tooltip == text) return;
  exported_->tooltip = text;
  if (QObject* adaptor = exported_->item_object.findChild<ItemAdaptor*>()) {
    QMetaObject::invokeMethod(adaptor, "NewToolTip");
  }
}

}  // namespace dozerin

#include "status_notifier_linux.moc"
