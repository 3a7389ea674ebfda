#pragma once

#include "platform/Platform.h"

#include <atomic>
#include <cstdint>

// The application object: sets up the skin and runs the main window until Quit or Exit.
class CSwiftlaneApp {
public:
    CSwiftlaneApp(const fb::Platform& platform, std::atomic<std::int32_t>& modeFlag);

    // Runs the start-up and the main window; returns when the main window has ended.
    // `terminationFd` becomes readable when the process is asked to end (SIGTERM, SIGINT);
    // the main window then ends as Exit ends it. Returns false, as the program always does.
    bool InitInstance(int terminationFd);

private:
    fb::Platform m_platform;
    std::atomic<std::int32_t>& m_modeFlag;
};
