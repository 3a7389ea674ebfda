#pragma once

#include "platform/TrayHost.h"

#include <QObject>

#include <map>
#include <memory>
#include <optional>
#include <string_view>

class QDBusServiceWatcher;
class QScreen;
class QSystemTrayIcon;

namespace fb::linux_impl {

// The notification area through Qt: QSystemTrayIcon shows the icon in a StatusNotifier host
// (over D-Bus) or in an XEmbed system tray, whichever the desktop has.
//
// Reappearance of the notification area: Qt docks its icons again by itself when an XEmbed
// tray comes back; for StatusNotifier hosts the watcher service's owner is followed on the
// session bus, and its return is reported as the host's reappearance (its loss as the loss).
// Nothing is polled.
class QtTrayHost : public QObject, public ITrayHost {
public:
    // Needs the running QApplication.
    explicit QtTrayHost(QObject* parent = nullptr);
    ~QtTrayHost() override;

    bool Available() override;
    bool AddIcon(const TrayIconData& data) override;
    bool DeleteIcon(unsigned id) override;
    void SetEvents(TrayHostEvents events) override;
    std::optional<TrayRect> IconGeometry(unsigned id) override;
    TrayRect WorkArea() override;
    TrayRect ScreenArea() override;
    bool AnimationsEnabled() override;
    int ShowMenuAtCursor(const std::vector<TrayMenuEntry>& menu) override;

    // Whether a StatusNotifier host (which reports single activations only) holds the icons.
    bool StatusNotifierHost() const { return m_statusNotifierHost; }

private:
    struct Icon {
        std::unique_ptr<QSystemTrayIcon> icon;
        bool stale = false;    // its host went away: register it anew when added again
        bool callback = false; // its mouse messages are reported
    };

    void WatchScreen(QScreen* screen);
    void OnWatcherOwnerChanged(const QString& oldOwner, const QString& newOwner);
    void ReportWorkAreaChanged();

    std::map<unsigned, Icon> m_icons;
    TrayHostEvents m_events;
    QDBusServiceWatcher* m_watcher = nullptr;
    bool m_statusNotifierHost = false;
};

// The animation switch of KDE's settings file (kdeglobals): false when the animation speed
// factor of section [KDE] is 0, true when it is positive, none when the file does not say.
std::optional<bool> KdeAnimationsFromGlobals(std::string_view content);

// Whether the desktop animates windows, as far as it can be told without starting any
// program: the desktop portal's GNOME setting "enable-animations", else KDE's settings file,
// else the widget style's animation duration. On when nothing says otherwise.
bool DesktopAnimatesWindows();

} // namespace fb::linux_impl
