// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/TrayHost.h"
#include "ui/CommandTarget.h"

#include <QIcon>
#include <QObject>
#include <QPointer>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QWidget;

namespace fb {

// The longest tip the notification area shows, in bytes, without its terminating zero.
inline constexpr std::size_t kMaxTipBytes = 127;

// `text` cut to at most `maxBytes` bytes without splitting a UTF-8 sequence.
std::string TruncateTip(std::string_view text, std::size_t maxBytes = kMaxTipBytes);

// The menu resource with this id as a menu bar whose entries open its pop-ups; none when the
// program has no such menu. Menu 129 holds the pop-up "Settings" of the tray icon.
std::optional<std::vector<TrayMenuEntry>> LoadMenuResource(unsigned id);

// The program's icon in the notification area: adds and removes it, shows its pop-up menu,
// adds it again when the notification area comes back, and keeps track of the window hidden
// in it. All of it runs on the user-interface thread. The host must outlive the manager.
class CSystemTray : public QObject {
    Q_OBJECT

public:
    // `mainWindow` receives the menu commands while no other command target is set; without
    // one, the parent given to Setup does, when it is a command target.
    explicit CSystemTray(ITrayHost& host, ICommandTarget* mainWindow = nullptr,
                         QObject* parent = nullptr);
    ~CSystemTray() override;

    // Creates the icon `iconId` with `icon` and `tip` (at most 127 bytes of it; a null tip is
    // empty). With a parent, the icon's mouse messages are reported to it by TrayMessage (its
    // callback message), and the parent hands them to HandleTrayMessage; without one, they go
    // to HandleTrayMessage directly. False when the desktop has no notification area (nothing
    // else happens then) or when the notification area refused the icon (it is then added
    // again as soon as the notification area comes back or the work area changes).
    bool Setup(QObject* parent, unsigned callbackMessage, const char* tip, const QIcon& icon,
               unsigned iconId, bool startHidden);

    // Deletes the icon from the notification area and cancels a pending add. Returns whether
    // the icon is out of the notification area now.
    bool RemoveFromTray();

    // Adds the icon again when an add is pending and the icon is not hidden on purpose.
    // Returns whether the icon is in the notification area afterwards.
    bool ReAddIfPending();

    // The window that receives menu commands: the one set, else the main window.
    ICommandTarget* CommandTarget() const;
    void SetCommandTarget(ICommandTarget* target) { m_commandTarget = target; }

    // The menu's default item: a command id, or a position when `byPosition` is set.
    void SetMenuDefaultItem(unsigned item, bool byPosition);

    // One mouse message on the icon: `wParam` the icon id, `lParam` the mouse message.
    // A right-button release shows the pop-up of the menu resource with the icon's id at the
    // cursor and hands the chosen command to the command target; a left double-click hands
    // it the default item's command. Returns 0 when the message is not for this icon, there
    // is no command target or no menu, else 1.
    virtual long HandleTrayMessage(std::uintptr_t wParam, std::intptr_t lParam);

    // Called with the pop-up just before it opens; a derived class may add, remove or check
    // items here. The base version does nothing.
    virtual void AdjustTrayMenu(std::vector<TrayMenuEntry>& menu);

    // The notification area reports: (re)appearance ("TaskbarCreated"), disappearance, and
    // a change of the desktop's work area.
    void OnTaskbarCreated();
    void OnTrayHostLost();
    void OnWorkAreaChanged();

    // True when the icon is in the notification area, so that a window hidden there can be
    // brought back through it. Without it, hiding a window to the tray minimises it instead.
    bool CanHideToTray() const { return m_enabled && !m_removed && m_host.Available(); }

    // The screen rectangle of the icon area, and whether the desktop animates windows.
    TrayRect LocateTrayArea() const;
    bool SystemAnimatesWindows() const;

Q_SIGNALS:
    // The callback message for the parent given to Setup: `iconId` is the icon's id (wParam),
    // `mouseMessage` the mouse message (lParam: kWmRButtonUp, kWmLButtonDblClk).
    void TrayMessage(int iconId, int mouseMessage);

    // The notification area went away while a window was hidden in it: the window has been
    // shown again, so that the user can reach it. Lets the window resume what it paused.
    void RestoredAfterTrayLoss();

private:
    friend void HideWindowToTray(QWidget* window, bool forceAnimation, CSystemTray* tray);
    friend void RestoreWindowFromTray(QWidget* window, bool forceAnimation, CSystemTray* tray);

    void OnMouse(unsigned iconId, unsigned mouseMessage);
    bool AddIcon();

    ITrayHost& m_host;
    ICommandTarget* m_mainWindow;
    QPointer<QObject> m_parent;
    TrayIconData m_data;
    bool m_enabled = false;
    bool m_hidden = true;
    bool m_removed = true;
    bool m_addPending = false;
    bool m_listening = false;
    ICommandTarget* m_commandTarget = nullptr;
    unsigned m_defaultMenuItem = 0;
    bool m_defaultByPosition = false;
    QPointer<QWidget> m_windowInTray;
};

// Hides a top-level window into the notification area: it leaves the screen and the
// taskbar, after a caption-sized frame flies from it to the icon area when the desktop
// animates windows or `forceAnimation` is set. When `tray` is null or has no icon in the
// notification area, the window is minimised instead, so that the user can always get it
// back.
void HideWindowToTray(QWidget* window, bool forceAnimation, CSystemTray* tray);

// Brings a window back from the notification area: shown, raised and activated, after the
// frame flies from the icon area to it when the desktop animates windows or
// `forceAnimation` is set. A minimised window is restored as well.
void RestoreWindowFromTray(QWidget* window, bool forceAnimation, CSystemTray* tray);

} // namespace fb
