// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SwiftlaneApp.h"

#include "app/Options.h"
#include "app/Skin.h"
#include "ui/SwiftlaneDlg.h"

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QWidget>

namespace fb {

namespace {

// More nested menus or dialogs than anyone opens: a window that refuses to close must not keep
// the loop going.
constexpr int kMaxNestedWindows = 64;

void ClosePopups() {
    for (int round = 0; round < kMaxNestedWindows; ++round) {
        QWidget* popup = QApplication::activePopupWidget();
        if (popup == nullptr)
            return;
        popup->close();
    }
}

void CloseModalWindows(const QWidget* keep) {
    for (int round = 0; round < kMaxNestedWindows; ++round) {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal == keep)
            return;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
    }
}

} // namespace

void CloseMenusAndDialogs(const QWidget* keep) {
    ClosePopups();
    CloseModalWindows(keep);
    // Dialogs shown without a loop of their own, and modal ones that a rejection left open.
    for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(window);
        if (dialog != nullptr && dialog != keep && dialog->isVisible())
            dialog->reject();
    }
}

CSwiftlaneApp::CSwiftlaneApp(const Platform& platform, std::atomic<std::int32_t>& modeFlag,
                             ITerminationRequests& termination)
    : m_platform(platform)
    , m_modeFlag(modeFlag)
    , m_termination(termination) {
    // From here on, whatever loop runs (a message box during start-up included) answers.
    m_termination.SetHandler([this] { OnTerminationRequest(); });
}

CSwiftlaneApp::~CSwiftlaneApp() {
    m_termination.SetHandler({});
}

void CSwiftlaneApp::OnTerminationRequest() {
    // The loops of open menus and message boxes return first; the code that opened them then
    // goes on as after a dismissal, and the main window ends as Exit ends it.
    CloseMenusAndDialogs(m_running);
    if (m_running != nullptr)
        m_running->OnExit();
}

bool CSwiftlaneApp::InitInstance() {
    SetupSkin(*m_platform.components);

    CSwiftlaneDlg dialog(m_platform, m_modeFlag);
    if (!dialog.OnInitDialog())
        return false;
    // A request that came during start-up ends the run before the window shows.
    if (m_termination.Requested()) {
        dialog.OnExit();
        return false;
    }

    QEventLoop loop;
    QObject::connect(&dialog, &QDialog::finished, &loop, &QEventLoop::quit);
    m_running = &dialog;
    dialog.show();
    loop.exec();
    m_running = nullptr;
    return false;
}

} // namespace fb
