// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/TrayHost.h"

#include <QObject>

#include <map>
#include <memory>
#include <optional>
#include <string_view>

class QDBusServiceWatcher;
namespace fb::linux_impl {
class XEmbedTrayWatcher;
}
class QScreen;
class QSystemTrayIcon;

namespace fb::linux_impl {

// The notification area through Qt: QSystemTrayIcon shows the icon in a StatusNotifier host
// (over D-Bus) or in an XEmbed system tray, whichever the desktop has.
//
// Loss and reappearance of the notification area: for StatusNotifier hosts the watcher
// service's owner is followed on the session bus; for an XEmbed tray the owner of the X11
// tray selection is followed through X events. Either one's return is reported as the host's
// reappearance and its end as the loss. Nothing is polled.
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
    void OnXEmbedTrayChanged(bool lost);
    void ReportWorkAreaChanged();

    std::map<unsigned, Icon> m_icons;
    TrayHostEvents m_events;
    QDBusServiceWatcher* m_watcher = nullptr;
    XEmbedTrayWatcher* m_xembedWatcher = nullptr;
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
