#include "app/SwiftlaneApp.h"
#include "platform/linux/LinuxPlatform.h"
#include "res/Icon.h"
#include "settings/Settings.h"

#include <QApplication>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The accelerate-mode flag, shared by the main window and the watcher thread.
std::atomic<std::int32_t> g_accelerateMode{0};

int g_terminationPipe[2] = {-1, -1};

void OnTerminationSignal(int signalNumber) {
    const char byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const auto written = ::write(g_terminationPipe[1], &byte, 1);
}

// SIGTERM and SIGINT end the program the way Exit does: the handler only wakes the event loop.
bool InstallTerminationHandlers() {
    if (::pipe2(g_terminationPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 &&
           ::sigaction(SIGINT, &action, nullptr) == 0;
}

} // namespace

int main(int argc, char* argv[]) {
    // Arguments (the start-up entry's "-tray" among them) change nothing.
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Flowbright"));
    QApplication::setApplicationVersion(QStringLiteral("4.3.0"));
    QApplication::setDesktopFileName(QStringLiteral("flowbright"));
    QApplication::setWindowIcon(res::ApplicationIcon());
    // Hiding the window to the tray must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    InstallTerminationHandlers();

    fb::linux_impl::LinuxPlatform platform;
    CSwiftlaneApp app(platform.Ports(), g_accelerateMode);
    {
        // Read at start, written back when the run is over.
        CSettings settings(*platform.Ports().profile, *platform.Ports().process);
        app.InitInstance(g_terminationPipe[0]);
    }
    return 0;
}
