// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/tray/TrayHostQt.h"
#include "platform/linux/tray/XEmbedTrayWatcher.h"

#include "support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <optional>
#include <string>

namespace {

using fb::TrayMenuEntry;
using fb::TrayRect;
using fb::testing_support::EnvGuard;

// No session bus: no desktop portal and no StatusNotifier host answer during these tests.
::testing::Environment* const kQtApp = ::testing::AddGlobalTestEnvironment(
    new fb::testing_support::QtApp(fb::testing_support::QtApp::Variables{
        {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/flowbright-test-bus"}}));

TEST(QtTrayHost, AddsOnlyWhereANotificationAreaExists) {
    fb::linux_impl::QtTrayHost host;
    fb::TrayIconData data;
    data.id = 129;
    data.flags = fb::kNifMessage | fb::kNifIcon | fb::kNifTip;
    data.tip = "Flowbright";
    const bool available = host.Available();
    EXPECT_EQ(host.AddIcon(data), available);
    EXPECT_EQ(host.DeleteIcon(129), available);
    EXPECT_FALSE(host.DeleteIcon(129));
    EXPECT_FALSE(host.DeleteIcon(4711));
    EXPECT_FALSE(host.IconGeometry(129).has_value());
    EXPECT_FALSE(host.StatusNotifierHost());
}

TEST(QtTrayHost, WorkAreaAndScreenComeFromThePrimaryScreen) {
    fb::linux_impl::QtTrayHost host;
    const QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QRect work = screen->availableGeometry();
    const QRect whole = screen->geometry();
    EXPECT_EQ(host.WorkArea(), (TrayRect{work.left(), work.top(), work.left() + work.width(),
                                         work.top() + work.height()}));
    EXPECT_EQ(host.ScreenArea(), (TrayRect{whole.left(), whole.top(), whole.left() + whole.width(),
                                           whole.top() + whole.height()}));
    EXPECT_FALSE(host.WorkArea().IsEmpty());
}

TEST(QtTrayHost, MenuShowsTheEntriesAndReturnsTheChoice) {
    fb::linux_impl::QtTrayHost host;
    TrayMenuEntry startup;
    startup.id = 32781;
    startup.text = "Run at &Startup";
    startup.checked = true;
    TrayMenuEntry separator;
    separator.separator = true;
    TrayMenuEntry help;
    help.id = 32793;
    help.text = "Help";
    help.enabled = false;
    TrayMenuEntry exit;
    exit.id = 32786;
    exit.text = "&Exit";
    exit.isDefault = true;

    QStringList texts;
    bool checked = false;
    bool helpEnabled = true;
    QString defaultText;
    QTimer::singleShot(50, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr)
            return;
        for (QAction* action : menu->actions()) {
            texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
            if (action->text() == QStringLiteral("Run at &Startup"))
                checked = action->isChecked();
            if (action->text() == QStringLiteral("Help"))
                helpEnabled = action->isEnabled();
        }
        if (menu->defaultAction() != nullptr)
            defaultText = menu->defaultAction()->text();
        menu->setActiveAction(menu->actions().constLast());
        QTest::keyClick(menu, Qt::Key_Return);
    });
    EXPECT_EQ(host.ShowMenuAtCursor({startup, separator, help, exit}), 32786);
    EXPECT_EQ(texts, (QStringList{QStringLiteral("Run at &Startup"), QStringLiteral("-"),
                                  QStringLiteral("Help"), QStringLiteral("&Exit")}));
    EXPECT_TRUE(checked);
    EXPECT_FALSE(helpEnabled);
    EXPECT_EQ(defaultText, QStringLiteral("&Exit"));

    // Escape dismisses: no command.
    QTimer::singleShot(50, [] {
        if (QWidget* menu = QApplication::activePopupWidget())
            QTest::keyClick(menu, Qt::Key_Escape);
    });
    EXPECT_EQ(host.ShowMenuAtCursor({startup, exit}), 0);
}

TEST(KdeAnimations, ReadsTheSpeedFactorOfTheKdeSection) {
    using fb::linux_impl::KdeAnimationsFromGlobals;
    EXPECT_EQ(KdeAnimationsFromGlobals("[KDE]\nAnimationDurationFactor=0\n"), false);
    EXPECT_EQ(KdeAnimationsFromGlobals("[KDE]\nAnimationDurationFactor=0.5\n"), true);
    EXPECT_EQ(KdeAnimationsFromGlobals("[KDE]\r\n AnimationDurationFactor = 0 \r\n"), false);
    EXPECT_EQ(KdeAnimationsFromGlobals("[KDE]\nAnimationDurationFactor[$i]=0\n"), false);
    EXPECT_EQ(KdeAnimationsFromGlobals("[General]\nAnimationDurationFactor=0\n"), std::nullopt);
    EXPECT_EQ(KdeAnimationsFromGlobals("[KDE][Sub]\nAnimationDurationFactor=0\n"), std::nullopt);
    EXPECT_EQ(KdeAnimationsFromGlobals("[KDE]\nAnimationDurationFactor=fast\n"), std::nullopt);
    EXPECT_EQ(KdeAnimationsFromGlobals("[KDE]\nAnimationDurationFactor=-1\n"), std::nullopt);
    EXPECT_EQ(KdeAnimationsFromGlobals("[KDE]\nAnimationDurationFactor=0\n"
                                       "[KDE]\nAnimationDurationFactor=1\n"),
              true);
    EXPECT_EQ(KdeAnimationsFromGlobals(""), std::nullopt);
    EXPECT_EQ(KdeAnimationsFromGlobals("[KDE]\nAnimationDurationFactor="), std::nullopt);
}

TEST(KdeAnimations, SettingsFileSwitchesAnimationsOff) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const EnvGuard config("XDG_CONFIG_HOME", dir.path().toUtf8().constData());
    EXPECT_TRUE(fb::linux_impl::DesktopAnimatesWindows()); // nothing says otherwise

    {
        std::ofstream file(dir.filePath(QStringLiteral("kdeglobals")).toStdString());
        file << "[KDE]\nAnimationDurationFactor=0\n";
    }
    EXPECT_FALSE(fb::linux_impl::DesktopAnimatesWindows());
    fb::linux_impl::QtTrayHost host;
    EXPECT_FALSE(host.AnimationsEnabled());
}

} // namespace

TEST(XEmbedTray, TraySelectionOfTheScreenThatDisplayNames) {
    using fb::linux_impl::ScreenOfDisplay;
    EXPECT_EQ(ScreenOfDisplay(":0"), 0);
    EXPECT_EQ(ScreenOfDisplay(":150.1"), 1);
    EXPECT_EQ(ScreenOfDisplay("host.example:10.2"), 2);
    EXPECT_EQ(ScreenOfDisplay("::1:0.3"), 3);
    EXPECT_EQ(ScreenOfDisplay(""), std::nullopt);
    EXPECT_EQ(ScreenOfDisplay(":0.x"), std::nullopt);
    EXPECT_EQ(ScreenOfDisplay(":0.-1"), std::nullopt);
}
