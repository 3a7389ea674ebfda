// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/tray/TrayHostQt.h"
#include "platform/linux/files/FileIo.h"

#include "platform/linux/tray/XEmbedTrayWatcher.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QMenu>
#include <QScreen>
#include <QStyle>
#include <QSystemTrayIcon>

#include <charconv>
#include <cstdlib>
#include <string>
#include <utility>

namespace fb::linux_impl {

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

TrayRect FromQRect(const QRect& rect) {
    return {rect.left(), rect.top(), rect.left() + rect.width(), rect.top() + rect.height()};
}

void Fill(QMenu& menu, const std::vector<TrayMenuEntry>& entries) {
    for (const auto& entry : entries) {
        if (entry.separator) {
            menu.addSeparator();
            continue;
        }
        const QString text = QString::fromStdString(entry.text);
        QAction* action = nullptr;
        if (!entry.submenu.empty()) {
            QMenu* sub = menu.addMenu(text);
            Fill(*sub, entry.submenu);
            action = sub->menuAction();
        } else {
            action = menu.addAction(text);
            action->setData(entry.id);
        }
        action->setEnabled(entry.enabled);
        if (entry.checked) {
            action->setCheckable(true);
            action->setChecked(true);
        }
        if (entry.isDefault)
            menu.setDefaultAction(action);
    }
}

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// The desktop portal's answer for GNOME's animation switch, when a portal answers at once.
std::optional<bool> PortalAnimations() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return std::nullopt;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"),
        QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("Read"));
    call << QStringLiteral("org.gnome.desktop.interface") << QStringLiteral("enable-animations");
    const QDBusMessage reply = bus.call(call, QDBus::Block, 250);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    // Read answers a variant that holds the setting's variant.
    QVariant value = reply.arguments().constFirst();
    for (int depth = 0; depth < 2 && value.canConvert<QDBusVariant>(); ++depth)
        value = value.value<QDBusVariant>().variant();
    if (value.typeId() != QMetaType::Bool)
        return std::nullopt;
    return value.toBool();
}

std::optional<bool> KdeFileAnimations() {
    const std::string path = UserConfigHome();
    if (path.empty())
        return std::nullopt;
    // A settings file of a megabyte is no settings file.
    const FileContent file = ReadWholeFile(path + "/kdeglobals", std::size_t{1} << 20);
    if (file.status != ReadStatus::Ok)
        return std::nullopt;
    return KdeAnimationsFromGlobals(file.text);
}

} // namespace

std::optional<bool> KdeAnimationsFromGlobals(std::string_view content) {
    bool inKde = false;
    std::optional<bool> result;
    while (!content.empty()) {
        const auto end = content.find('\n');
        const std::string_view line =
            Trim(content.substr(0, end == std::string_view::npos ? content.size() : end));
        content = end == std::string_view::npos ? std::string_view() : content.substr(end + 1);
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[') {
            inKde = line == "[KDE]";
            continue;
        }
        const auto equals = line.find('=');
        if (!inKde || equals == std::string_view::npos)
            continue;
        std::string_view key = Trim(line.substr(0, equals));
        if (const auto flags = key.find('['); flags != std::string_view::npos)
            key = Trim(key.substr(0, flags)); // "Key[$i]": an immutable entry
        if (key != "AnimationDurationFactor")
            continue;
        const std::string_view value = Trim(line.substr(equals + 1));
        double factor = 0;
        const auto [next, error] =
            std::from_chars(value.data(), value.data() + value.size(), factor);
        if (error != std::errc() || next != value.data() + value.size() || !(factor >= 0))
            continue;
        result = factor > 0;
    }
    return result;
}

bool DesktopAnimatesWindows() {
    if (const auto portal = PortalAnimations())
        return *portal;
    if (const auto kde = KdeFileAnimations())
        return *kde;
    if (const QStyle* style = QApplication::style())
        return style->styleHint(QStyle::SH_Widget_Animation_Duration) > 0;
    return true;
}

QtTrayHost::QtTrayHost(QObject* parent)
    : QObject(parent) {
    if (auto* app = qGuiApp) {
        for (QScreen* screen : QGuiApplication::screens())
            WatchScreen(screen);
        connect(app, &QGuiApplication::screenAdded, this, [this](QScreen* screen) {
            WatchScreen(screen);
            ReportWorkAreaChanged();
        });
        connect(app, &QGuiApplication::screenRemoved, this, [this] { ReportWorkAreaChanged(); });
        connect(app, &QGuiApplication::primaryScreenChanged, this,
                [this] { ReportWorkAreaChanged(); });
    }

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        if (QDBusConnectionInterface* busInterface = bus.interface())
            m_statusNotifierHost = busInterface->isServiceRegistered(kWatcherService).value();
        m_watcher = new QDBusServiceWatcher(kWatcherService, bus,
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString&, const QString& oldOwner, const QString& newOwner) {
                    OnWatcherOwnerChanged(oldOwner, newOwner);
                });
    }
    m_xembedWatcher = new XEmbedTrayWatcher([this] { OnXEmbedTrayChanged(true); },
                                            [this] { OnXEmbedTrayChanged(false); }, this);
}

QtTrayHost::~QtTrayHost() = default;

void QtTrayHost::WatchScreen(QScreen* screen) {
    connect(screen, &QScreen::availableGeometryChanged, this, [this] { ReportWorkAreaChanged(); });
}

void QtTrayHost::ReportWorkAreaChanged() {
    if (m_events.workAreaChanged)
        m_events.workAreaChanged();
}

void QtTrayHost::OnWatcherOwnerChanged(const QString& oldOwner, const QString& newOwner) {
    if (!oldOwner.isEmpty()) {
        m_statusNotifierHost = false;
        for (auto& [id, icon] : m_icons)
            icon.stale = true;
        if (m_events.hostLost)
            m_events.hostLost();
    }
    if (!newOwner.isEmpty()) {
        m_statusNotifierHost = true;
        if (m_events.hostAppeared)
            m_events.hostAppeared();
    }
}

void QtTrayHost::OnXEmbedTrayChanged(bool lost) {
    // Icons shown by a StatusNotifier host do not live in the X11 tray.
    if (m_statusNotifierHost)
        return;
    if (lost) {
        for (auto& [id, icon] : m_icons)
            icon.stale = true;
        if (m_events.hostLost)
            m_events.hostLost();
    } else if (m_events.hostAppeared) {
        m_events.hostAppeared();
    }
}

bool QtTrayHost::Available() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool QtTrayHost::AddIcon(const TrayIconData& data) {
    if (!Available())
        return false;
    auto& slot = m_icons[data.id];
    if (!slot.icon) {
        slot.icon = std::make_unique<QSystemTrayIcon>();
        const unsigned id = data.id;
        connect(slot.icon.get(), &QSystemTrayIcon::activated, this,
                [this, id](QSystemTrayIcon::ActivationReason reason) {
                    unsigned message = 0;
                    if (reason == QSystemTrayIcon::Context)
                        message = kWmRButtonUp;
                    else if (reason == QSystemTrayIcon::DoubleClick)
                        message = kWmLButtonDblClk;
                    else if (reason == QSystemTrayIcon::Trigger && m_statusNotifierHost)
                        message = kWmLButtonDblClk; // such hosts report no double-clicks
                    auto found = m_icons.find(id);
                    if (message != 0 && m_events.mouse && found != m_icons.end() &&
                        found->second.callback)
                        m_events.mouse(id, message);
                });
    }
    slot.callback = (data.flags & kNifMessage) != 0;
    if (data.flags & kNifIcon)
        slot.icon->setIcon(data.icon);
    if (data.flags & kNifTip)
        slot.icon->setToolTip(QString::fromStdString(data.tip));
    if (slot.stale && slot.icon->isVisible())
        slot.icon->hide(); // registers anew with the host that came back
    slot.stale = false;
    slot.icon->show();
    return true;
}

bool QtTrayHost::DeleteIcon(unsigned id) {
    const auto found = m_icons.find(id);
    if (found == m_icons.end())
        return false;
    found->second.icon->hide();
    m_icons.erase(found);
    return true;
}

void QtTrayHost::SetEvents(TrayHostEvents events) {
    m_events = std::move(events);
}

std::optional<TrayRect> QtTrayHost::IconGeometry(unsigned id) {
    const auto found = m_icons.find(id);
    if (found == m_icons.end())
        return std::nullopt;
    const QRect geometry = found->second.icon->geometry();
    if (!geometry.isValid() || geometry.isEmpty())
        return std::nullopt;
    return FromQRect(geometry);
}

TrayRect QtTrayHost::WorkArea() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? FromQRect(screen->availableGeometry()) : TrayRect{};
}

TrayRect QtTrayHost::ScreenArea() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? FromQRect(screen->geometry()) : TrayRect{};
}

bool QtTrayHost::AnimationsEnabled() {
    return DesktopAnimatesWindows();
}

int QtTrayHost::ShowMenuAtCursor(const std::vector<TrayMenuEntry>& menu) {
    QMenu popup;
    Fill(popup, menu);
    const QAction* chosen = popup.exec(QCursor::pos());
    if (chosen == nullptr)
        return 0;
    bool ok = false;
    const int id = chosen->data().toInt(&ok);
    return ok ? id : 0;
}

} // namespace fb::linux_impl
