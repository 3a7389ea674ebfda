// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/tray/XEmbedTrayWatcher.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>

#include <xcb/xcb.h>

#include <charconv>
#include <cstdlib>
#include <memory>
#include <string>

namespace fb::linux_impl {

namespace {

struct FreeDeleter {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename Reply> using ReplyPtr = std::unique_ptr<Reply, FreeDeleter>;

xcb_connection_t* Xcb(void* connection) {
    return static_cast<xcb_connection_t*>(connection);
}

xcb_atom_t InternAtom(xcb_connection_t* connection, const std::string& name) {
    const auto cookie =
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.c_str());
    const ReplyPtr<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

} // namespace

std::optional<int> ScreenOfDisplay(std::string_view display) {
    const auto colon = display.rfind(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    const std::string_view afterColon = display.substr(colon + 1);
    const auto dot = afterColon.find('.');
    if (dot == std::string_view::npos)
        return 0;
    const std::string_view screen = afterColon.substr(dot + 1);
    int number = 0;
    const auto [end, error] = std::from_chars(screen.data(), screen.data() + screen.size(), number);
    if (error != std::errc() || end != screen.data() + screen.size() || number < 0)
        return std::nullopt;
    return number;
}

XEmbedTrayWatcher::XEmbedTrayWatcher(std::function<void()> lost, std::function<void()> appeared,
                                     QObject* parent)
    : QObject(parent)
    , m_lost(std::move(lost))
    , m_appeared(std::move(appeared)) {
    if (Connect())
        QCoreApplication::instance()->installNativeEventFilter(this);
}

XEmbedTrayWatcher::~XEmbedTrayWatcher() {
    if (m_connection != nullptr && QCoreApplication::instance() != nullptr)
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool XEmbedTrayWatcher::Connect() {
    auto* application = qGuiApp;
    if (application == nullptr)
        return false;
    const auto* x11 = application->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || x11->connection() == nullptr)
        return false;
    xcb_connection_t* connection = x11->connection();

    const char* display = std::getenv("DISPLAY");
    const int screenNumber = ScreenOfDisplay(display != nullptr ? display : "").value_or(0);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int skip = 0; skip < screenNumber && screens.rem > 0; ++skip)
        xcb_screen_next(&screens);
    if (screens.rem == 0 || screens.data == nullptr)
        return false;

    m_connection = connection;
    m_root = screens.data->root;
    m_selection = InternAtom(connection, "_NET_SYSTEM_TRAY_S" + std::to_string(screenNumber));
    m_manager = InternAtom(connection, "MANAGER");
    if (m_selection == XCB_ATOM_NONE || m_manager == XCB_ATOM_NONE)
        return false;
    // A new tray announces itself to the root window's structure listeners.
    AddEventMask(m_root, XCB_EVENT_MASK_STRUCTURE_NOTIFY);
    const ReplyPtr<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, m_selection), nullptr));
    if (owner && owner->owner != XCB_WINDOW_NONE)
        Follow(owner->owner);
    return true;
}

void XEmbedTrayWatcher::AddEventMask(std::uint32_t window, std::uint32_t mask) {
    xcb_connection_t* connection = Xcb(m_connection);
    // The connection is Qt's: keep every event it already selected on the window.
    const ReplyPtr<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
        connection, xcb_get_window_attributes(connection, window), nullptr));
    if (!attributes)
        return;
    if ((attributes->your_event_mask & mask) == mask)
        return;
    const std::uint32_t value = attributes->your_event_mask | mask;
    xcb_change_window_attributes(connection, window, XCB_CW_EVENT_MASK, &value);
    xcb_flush(connection);
}

bool XEmbedTrayWatcher::Follow(std::uint32_t owner) {
    m_owner = owner;
    AddEventMask(owner, XCB_EVENT_MASK_STRUCTURE_NOTIFY);
    // A tray that ended before its events were selected sends no destruction any more.
    const ReplyPtr<xcb_get_selection_owner_reply_t> now(xcb_get_selection_owner_reply(
        Xcb(m_connection), xcb_get_selection_owner(Xcb(m_connection), m_selection), nullptr));
    if (!now || now->owner != owner)
        m_owner = 0;
    return m_owner != 0;
}

void XEmbedTrayWatcher::Report(bool lost) {
    // From the event loop, once Qt has handled the same event and sees the tray as it is.
    QTimer::singleShot(0, this, [this, lost] {
        const std::function<void()>& receiver = lost ? m_lost : m_appeared;
        if (receiver)
            receiver();
    });
}

bool XEmbedTrayWatcher::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || message == nullptr)
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const auto type = static_cast<std::uint8_t>(event->response_type & ~0x80U);
    if (type == XCB_DESTROY_NOTIFY) {
        const auto* destroyed = static_cast<const xcb_destroy_notify_event_t*>(message);
        if (m_owner != 0 && destroyed->window == m_owner) {
            m_owner = 0;
            Report(true);
        }
    } else if (type == XCB_CLIENT_MESSAGE) {
        const auto* client = static_cast<const xcb_client_message_event_t*>(message);
        if (client->window == m_root && client->type == m_manager && client->format == 32 &&
            client->data.data32[1] == m_selection && client->data.data32[2] != XCB_WINDOW_NONE) {
            const bool hadTray = m_owner != 0;
            if (Follow(client->data.data32[2]))
                Report(false);
            else if (hadTray)
                Report(true); // replaced by a tray that is gone already
        }
    }
    // Qt handles every event as well: its own icons follow the tray too.
    return false;
}

} // namespace fb::linux_impl
