// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Platform.h"
#include "platform/TerminationRequests.h"

#include <atomic>
#include <cstdint>

class QWidget;

namespace fb {

class CSwiftlaneDlg;

// The application object: sets up the skin and runs the main window until Quit or Exit.
class CSwiftlaneApp {
public:
    // A request to end the process (`termination`) ends the run the way Exit does, from any
    // state: during start-up, with a menu or a message box open, or with the window hidden.
    CSwiftlaneApp(const Platform& platform, std::atomic<std::int32_t>& modeFlag,
                  ITerminationRequests& termination);
    ~CSwiftlaneApp();
    CSwiftlaneApp(const CSwiftlaneApp&) = delete;
    CSwiftlaneApp& operator=(const CSwiftlaneApp&) = delete;

    // Runs the start-up and the main window; returns when the main window has ended. Returns
    // false, as the program always does.
    bool InitInstance();

private:
    void OnTerminationRequest();

    Platform m_platform;
    std::atomic<std::int32_t>& m_modeFlag;
    ITerminationRequests& m_termination;
    // The main window once its start-up is over; until then a request is only noted.
    CSwiftlaneDlg* m_running = nullptr;
};

// Closes every menu, message box and dialog that is open over `keep` (which stays), so that
// the event loops they run return to their callers.
void CloseMenusAndDialogs(const QWidget* keep);

} // namespace fb
