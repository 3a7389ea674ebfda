#include "app/SwiftlaneApp.h"

#include "app/Options.h"
#include "app/SwiftlaneDlg.h"

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>

#include <unistd.h>

CSwiftlaneApp::CSwiftlaneApp(const fb::Platform& platform, std::atomic<std::int32_t>& modeFlag)
    : m_platform(platform)
    , m_modeFlag(modeFlag) {}

bool CSwiftlaneApp::InitInstance(int terminationFd) {
    SetupSkin(*m_platform.components);

    CSwiftlaneDlg dialog(m_platform, m_modeFlag);
    if (!dialog.OnInitDialog())
        return false;

    // A request to end the process ends the main window the way Exit does, so that everything
    // is saved on the way out.
    QSocketNotifier termination(terminationFd, QSocketNotifier::Read);
    QObject::connect(&termination, &QSocketNotifier::activated, &dialog, [&dialog, terminationFd] {
        char signalNumber = 0;
        [[maybe_unused]] const auto drained = ::read(terminationFd, &signalNumber, 1);
        // A dialog open over the main window (About, a message) is closed first, so that its
        // own event loop does not keep the program from ending.
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* other = qobject_cast<QDialog*>(window);
            if (other != nullptr && other != &dialog && other->isVisible())
                other->reject();
        }
        dialog.OnExit();
    });

    QEventLoop loop;
    QObject::connect(&dialog, &QDialog::finished, &loop, &QEventLoop::quit);
    dialog.show();
    loop.exec();
    return false;
}
