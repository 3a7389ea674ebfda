// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/SystemTray.h"

#include "platform/Text.h"

#include "res/Resources.h"
#include "ui/CaptionFlight.h"
#include "ui/TrayArea.h"

#include <QWidget>

#include <utility>

namespace fb {

std::string TruncateTip(std::string_view text, std::size_t maxBytes) {
    return std::string(text.substr(0, Utf8CutBytes(text, maxBytes)));
}

std::optional<std::vector<TrayMenuEntry>> LoadMenuResource(unsigned id) {
    if (id != static_cast<unsigned>(res::IDR_TRAYMENU))
        return std::nullopt;
    TrayMenuEntry popup;
    popup.id = -1;
    popup.text = std::string(res::TrayMenuTitle());
    for (const auto& item : res::TrayMenu()) {
        TrayMenuEntry entry;
        entry.id = item.id;
        entry.text = std::string(item.text);
        entry.separator = item.id == 0;
        popup.submenu.push_back(std::move(entry));
    }
    return std::vector<TrayMenuEntry>{std::move(popup)};
}

namespace {

// The flags every add request carries: a callback message, an icon and a tip.
constexpr unsigned kIconFlags = kNifMessage | kNifIcon | kNifTip;

unsigned LowWord(std::intptr_t value) {
    return static_cast<unsigned>(static_cast<std::uintptr_t>(value) & 0xFFFFU);
}

// The command id of the entry at a position, as a menu reports it: 0 for a separator, -1 for
// an entry that opens a submenu or a position past the end.
int CommandAt(const std::vector<TrayMenuEntry>& menu, unsigned position) {
    if (position >= menu.size())
        return -1;
    const auto& entry = menu[position];
    if (entry.separator)
        return 0;
    return entry.submenu.empty() ? entry.id : -1;
}

// The pop-up the tray icon shows: the first pop-up of the menu resource with the icon's id.
std::optional<std::vector<TrayMenuEntry>> LoadTrayPopup(unsigned iconId) {
    auto menu = LoadMenuResource(iconId);
    if (!menu || menu->empty() || menu->front().submenu.empty())
        return std::nullopt;
    return std::move(menu->front().submenu);
}

} // namespace

CSystemTray::CSystemTray(ITrayHost& host, ICommandTarget* mainWindow, QObject* parent)
    : QObject(parent)
    , m_host(host)
    , m_mainWindow(mainWindow) {}

CSystemTray::~CSystemTray() {
    RemoveFromTray();
    if (m_listening)
        m_host.SetEvents({});
}

bool CSystemTray::Setup(QObject* parent, unsigned callbackMessage, const char* tip,
                        const QIcon& icon, unsigned iconId, bool startHidden) {
    m_enabled = m_host.Available();
    if (!m_enabled)
        return false;

    // The manager's own window: what the notification area reports reaches it from now on.
    TrayHostEvents events;
    events.mouse = [this](unsigned id, unsigned message) { OnMouse(id, message); };
    events.hostAppeared = [this] { OnTaskbarCreated(); };
    events.hostLost = [this] { OnTrayHostLost(); };
    events.workAreaChanged = [this] { OnWorkAreaChanged(); };
    m_host.SetEvents(std::move(events));
    m_listening = true;

    m_parent = parent;
    // The window that set up the icon is the program's main window.
    if (m_mainWindow == nullptr)
        m_mainWindow = dynamic_cast<ICommandTarget*>(parent);
    m_data.id = iconId;
    m_data.icon = icon;
    m_data.flags = kIconFlags;
    m_data.callbackMessage = callbackMessage;
    m_data.tip = TruncateTip(tip != nullptr ? std::string_view(tip) : std::string_view());

    m_hidden = startHidden;
    if (startHidden)
        return true;
    return AddIcon();
}

bool CSystemTray::AddIcon() {
    if (m_host.AddIcon(m_data)) {
        m_removed = false;
        m_addPending = false;
        return true;
    }
    // Refused: out of the tray until the notification area comes back. `m_hidden` keeps
    // meaning "kept out on purpose", so that the next appearance of the notification area
    // or change of the work area adds the icon again.
    m_removed = true;
    m_addPending = true;
    return false;
}

bool CSystemTray::RemoveFromTray() {
    m_addPending = false;
    if (!m_enabled || m_removed)
        return true;
    m_data.flags = 0;
    if (m_host.DeleteIcon(m_data.id)) {
        m_hidden = true;
        m_removed = true;
    }
    return m_removed;
}

bool CSystemTray::ReAddIfPending() {
    if (!m_enabled || !m_addPending || m_hidden)
        return !m_removed;
    return AddIcon();
}

ICommandTarget* CSystemTray::CommandTarget() const {
    return m_commandTarget != nullptr ? m_commandTarget : m_mainWindow;
}

void CSystemTray::SetMenuDefaultItem(unsigned item, bool byPosition) {
    m_defaultMenuItem = item;
    m_defaultByPosition = byPosition;
}

long CSystemTray::HandleTrayMessage(std::uintptr_t wParam, std::intptr_t lParam) {
    if (wParam != m_data.id)
        return 0;
    ICommandTarget* target = CommandTarget();
    if (target == nullptr)
        return 0;

    const unsigned message = LowWord(lParam);
    if (message == kWmRButtonUp) {
        auto popup = LoadTrayPopup(m_data.id);
        if (!popup)
            return 0;
        for (std::size_t position = 0; position < popup->size(); ++position) {
            auto& entry = (*popup)[position];
            entry.isDefault = m_defaultByPosition
                                  ? position == m_defaultMenuItem
                                  : !entry.separator && entry.submenu.empty() &&
                                        entry.id == static_cast<int>(m_defaultMenuItem);
        }
        AdjustTrayMenu(*popup);
        RouteCommandUpdates(*popup, *target);
        const int chosen = m_host.ShowMenuAtCursor(*popup);
        // Last: the command may end the window that owns this manager.
        if (chosen != 0)
            target->OnCommand(chosen);
    } else if (message == kWmLButtonDblClk) {
        int command = static_cast<int>(m_defaultMenuItem);
        if (m_defaultByPosition) {
            const auto popup = LoadTrayPopup(m_data.id);
            if (!popup)
                return 0;
            command = CommandAt(*popup, m_defaultMenuItem);
        }
        // A position that holds no command (a submenu or past the end) sends nothing.
        if (command != -1)
            target->OnCommand(command);
    }
    return 1;
}

void CSystemTray::AdjustTrayMenu(std::vector<TrayMenuEntry>&) {}

void CSystemTray::OnMouse(unsigned iconId, unsigned mouseMessage) {
    if (m_parent != nullptr)
        Q_EMIT TrayMessage(static_cast<int>(iconId), static_cast<int>(mouseMessage));
    else
        HandleTrayMessage(iconId, static_cast<std::intptr_t>(mouseMessage));
}

void CSystemTray::OnTaskbarCreated() {
    m_addPending = true;
    ReAddIfPending();
}

void CSystemTray::OnWorkAreaChanged() {
    m_addPending = !m_hidden;
    ReAddIfPending();
}

void CSystemTray::OnTrayHostLost() {
    if (!m_enabled)
        return;
    // The icon went with the notification area; it comes back with it unless hidden.
    if (!m_removed)
        m_addPending = !m_hidden;
    m_removed = true;

    // A window hidden in the tray could not be reached any more: bring it back.
    QWidget* window = m_windowInTray.data();
    if (window != nullptr && window->isHidden()) {
        RestoreWindowFromTray(window, false, this);
        Q_EMIT RestoredAfterTrayLoss();
    }
}

TrayRect CSystemTray::LocateTrayArea() const {
    return fb::LocateTrayArea(m_host, m_data.id);
}

bool CSystemTray::SystemAnimatesWindows() const {
    return m_host.AnimationsEnabled();
}

namespace {

// Each hide and restore of a window bumps its flight number, so that a flight that lands
// after the window has been hidden again does not show it.
constexpr const char* kFlightProperty = "fbTrayFlight";

int NextFlight(QWidget* window) {
    const int flight = window->property(kFlightProperty).toInt() + 1;
    window->setProperty(kFlightProperty, flight);
    return flight;
}

TrayRect ScreenRect(const QWidget* window) {
    const QRect frame = window->frameGeometry();
    return {frame.left(), frame.top(), frame.left() + frame.width(), frame.top() + frame.height()};
}

void ShowRestored(QWidget* window) {
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

void HideWindowToTray(QWidget* window, bool forceAnimation, CSystemTray* tray) {
    if (window == nullptr)
        return;
    NextFlight(window);
    if (tray == nullptr || !tray->CanHideToTray()) {
        // Nothing in the notification area would bring it back: minimise instead.
        if (tray != nullptr)
            tray->m_windowInTray = nullptr;
        window->showMinimized();
        return;
    }
    if (forceAnimation || tray->SystemAnimatesWindows())
        CaptionFlight::Start(ScreenRect(window), tray->LocateTrayArea());
    window->hide();
    tray->m_windowInTray = window;
}

void RestoreWindowFromTray(QWidget* window, bool forceAnimation, CSystemTray* tray) {
    if (window == nullptr)
        return;
    const int flight = NextFlight(window);
    if (tray != nullptr && tray->m_windowInTray == window)
        tray->m_windowInTray = nullptr;
    if (tray != nullptr && (forceAnimation || tray->SystemAnimatesWindows())) {
        QPointer<QWidget> guard(window);
        CaptionFlight::Start(tray->LocateTrayArea(), ScreenRect(window), [guard, flight] {
            if (guard && guard->property(kFlightProperty).toInt() == flight)
                ShowRestored(guard.data());
        });
        return;
    }
    ShowRestored(window);
}

} // namespace fb
