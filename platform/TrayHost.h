// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fb {

// Flags of the icon data with their Windows numbers (NIF_MESSAGE, NIF_ICON, NIF_TIP).
inline constexpr unsigned kNifMessage = 0x1;
inline constexpr unsigned kNifIcon = 0x2;
inline constexpr unsigned kNifTip = 0x4;

// Mouse messages a tray icon reports, with their Windows numbers.
inline constexpr unsigned kWmLButtonDblClk = 0x203;
inline constexpr unsigned kWmRButtonUp = 0x205;

// A screen rectangle with Windows semantics: right and bottom lie just outside it.
struct TrayRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool IsEmpty() const { return right <= left || bottom <= top; }
    friend bool operator==(const TrayRect&, const TrayRect&) = default;
};

// What one add request hands to the notification area (NOTIFYICONDATA).
struct TrayIconData {
    unsigned id = 0;              // uID
    unsigned flags = 0;           // kNif* bits: which of the fields below count
    unsigned callbackMessage = 0; // uCallbackMessage
    QIcon icon;                   // hIcon
    std::string tip;              // szTip, UTF-8, at most 127 bytes
};

// One entry of a pop-up menu. A separator has id 0; an entry with a submenu opens it.
struct TrayMenuEntry {
    int id = 0;
    std::string text; // with '&' before the mnemonic letter
    bool separator = false;
    bool enabled = true;
    bool checked = false;
    bool isDefault = false; // drawn as the menu's default item
    std::vector<TrayMenuEntry> submenu;
};

// What the notification area reports. Every callback runs on the user-interface thread.
struct TrayHostEvents {
    // A mouse message (kWmRButtonUp, kWmLButtonDblClk) on the icon with this id.
    std::function<void(unsigned iconId, unsigned mouseMessage)> mouse;
    // The notification area has (re)appeared and takes icons again ("TaskbarCreated").
    std::function<void()> hostAppeared;
    // The notification area has gone away, and every icon with it.
    std::function<void()> hostLost;
    // The work area of the desktop has changed (SPI_SETWORKAREA).
    std::function<void()> workAreaChanged;
};

// The desktop's notification area ("system tray") and the few desktop facts that the tray
// icon manager needs (Shell_NotifyIcon, TrackPopupMenu, SPI_GETWORKAREA, SPI_GETANIMATION).
class ITrayHost {
public:
    virtual ~ITrayHost() = default;

    // True when the desktop has a notification area that takes icons.
    virtual bool Available() = 0;

    // NIM_ADD: shows the icon `data.id` with its icon and tip. False when the notification
    // area refuses it; nothing is then shown.
    virtual bool AddIcon(const TrayIconData& data) = 0;

    // NIM_DELETE: removes the icon with this id. False when there is no such icon.
    virtual bool DeleteIcon(unsigned id) = 0;

    // Replaces the receivers of the host's reports; empty functions receive nothing.
    virtual void SetEvents(TrayHostEvents events) = 0;

    // The icon's rectangle on the screen, when the desktop tells it.
    virtual std::optional<TrayRect> IconGeometry(unsigned id) = 0;

    // The primary screen's work area (the screen less panels and docks) and the whole screen.
    virtual TrayRect WorkArea() = 0;
    virtual TrayRect ScreenArea() = 0;

    // True when the desktop animates windows (minimise and restore effects).
    virtual bool AnimationsEnabled() = 0;

    // Shows the menu at the mouse cursor and waits for the choice. Returns the chosen command
    // id, or 0 when the menu was dismissed.
    virtual int ShowMenuAtCursor(const std::vector<TrayMenuEntry>& menu) = 0;
};

} // namespace fb
