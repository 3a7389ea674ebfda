// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SwiftlaneApp.h"
#include "platform/linux/system/TerminationSignals.h"

#include "support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>

using namespace fb;

namespace {

::testing::Environment* const kQtApp =
    ::testing::AddGlobalTestEnvironment(new fb::testing_support::QtApp);

// One object watches the pipe for the whole run, as in the program.
fb::linux_impl::SignalTerminationRequests& Requests() {
    static auto* requests = [] {
        EXPECT_TRUE(fb::linux_impl::InstallTerminationSignalHandlers());
        return new fb::linux_impl::SignalTerminationRequests(QCoreApplication::instance());
    }();
    return *requests;
}

class TerminationTest : public ::testing::Test {
protected:
    ~TerminationTest() override { Requests().SetHandler({}); }
};

} // namespace

TEST_F(TerminationTest, SignalReachesTheHandlerFromTheEventLoop) {
    int calls = 0;
    Requests().SetHandler([&calls] { ++calls; });
    ASSERT_EQ(::raise(SIGTERM), 0);
    // Noted at once, handled by the loop, and only once for signals that came together.
    EXPECT_TRUE(Requests().Requested());
    ASSERT_EQ(::raise(SIGINT), 0);
    EXPECT_TRUE(QTest::qWaitFor([&calls] { return calls > 0; }, 2000));
    QTest::qWait(50);
    EXPECT_EQ(calls, 1);
}

TEST_F(TerminationTest, RequestEndsAnOpenMessageBoxAndMenu) {
    Requests().SetHandler([] { CloseMenusAndDialogs(nullptr); });

    QMessageBox box;
    box.setText(QStringLiteral("open while the session ends"));
    box.setStandardButtons(QMessageBox::Ok);
    QTimer::singleShot(100, [] { ::raise(SIGTERM); });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &box, [&box] { box.done(-1); });
    guard.start(5000);
    const int boxResult = box.exec();
    EXPECT_TRUE(guard.isActive()) << "the message box stayed open";
    EXPECT_NE(boxResult, -1);

    QMenu menu;
    menu.addAction(QStringLiteral("Exit"));
    QTimer::singleShot(100, [] { ::raise(SIGTERM); });
    QObject::connect(&guard, &QTimer::timeout, &menu, [&menu] { menu.close(); });
    guard.start(5000);
    EXPECT_EQ(menu.exec(QPoint(10, 10)), nullptr);
    EXPECT_TRUE(guard.isActive()) << "the menu stayed open";
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}
