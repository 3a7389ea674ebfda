// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace fb::linux_impl {

// Follows the owner of an X11 system tray (the selection "_NET_SYSTEM_TRAY_S<screen>"): the
// owner window's destruction means the tray has gone, with every icon docked in it; the
// "MANAGER" message that a new owner sends to the root window means a tray is there again.
// Both come as X events on the connection the program already has, so nothing is polled.
// Does nothing when the program does not run on X11.
class XEmbedTrayWatcher : public QObject, public QAbstractNativeEventFilter {
public:
    // `lost` and `appeared` run on the user-interface thread, after the event has been handled
    // by the rest of the program (so that Qt's own view of the tray is up to date). Needs the
    // running QGuiApplication.
    XEmbedTrayWatcher(std::function<void()> lost, std::function<void()> appeared,
                      QObject* parent = nullptr);
    ~XEmbedTrayWatcher() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    bool Connect();
    // Starts following the tray window `owner`; false when it is no tray (any more).
    bool Follow(std::uint32_t owner);
    // Hands the tray's loss (or its return) to the receiver given at construction.
    void Report(bool lost);
    void AddEventMask(std::uint32_t window, std::uint32_t mask);

    std::function<void()> m_lost;
    std::function<void()> m_appeared;
    void* m_connection = nullptr; // xcb_connection_t, owned by Qt
    std::uint32_t m_root = 0;
    std::uint32_t m_selection = 0; // atom _NET_SYSTEM_TRAY_S<screen>
    std::uint32_t m_manager = 0;   // atom MANAGER
    std::uint32_t m_owner = 0;     // the tray's window, 0 while there is none
};

// The screen number that a DISPLAY value names ("host:display.screen"); 0 when it names none,
// none when the value is no display name.
std::optional<int> ScreenOfDisplay(std::string_view display);

} // namespace fb::linux_impl
