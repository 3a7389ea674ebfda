// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SwiftlaneApp.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/system/TerminationSignals.h"
#include "res/Icon.h"
#include "settings/Settings.h"

#include <QApplication>

#include <atomic>
#include <cstdint>

namespace {

// The accelerate-mode flag, shared by the main window and the watcher thread.
std::atomic<std::int32_t> g_accelerateMode{0};

} // namespace

int main(int argc, char* argv[]) {
    // First of all: a logout may come while the display or the bus is still being reached,
    // and it must end the program as Exit does, with the settings written.
    fb::linux_impl::InstallTerminationSignalHandlers();

    // Arguments (the start-up entry's "-tray" among them) change nothing.
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Flowbright"));
    QApplication::setApplicationVersion(QStringLiteral("4.3.0"));
    // The installed desktop entry's name, by which desktops find the program's icon and name.
    QApplication::setDesktopFileName(QStringLiteral("org.flowbright.flowbright"));
    QApplication::setWindowIcon(fb::res::ApplicationIcon());
    // Hiding the window to the tray must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    fb::linux_impl::SignalTerminationRequests termination;

    fb::linux_impl::LinuxPlatform platform;
    fb::CSwiftlaneApp app(platform.Ports(), g_accelerateMode, termination);
    {
        // Read at start, written back when the run is over.
        fb::CSettings settings(*platform.Ports().profile, *platform.Ports().process);
        app.InitInstance();
    }
    return 0;
}
