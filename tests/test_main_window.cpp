// SPDX-License-Identifier: GPL-3.0-or-later
#include "res/Resources.h"
#include "ui/HistogramCtrl.h"
#include "ui/SwiftlaneDlg.h"

#include "fakes/FakeAddressTable.h"
#include "fakes/FakeConnectionState.h"
#include "fakes/FakeFileSystem.h"
#include "fakes/FakeInterfaceTable.h"
#include "fakes/FakeMessageBox.h"
#include "fakes/FakePacketSocket.h"
#include "fakes/FakeProcessInfo.h"
#include "fakes/FakeRegistry.h"
#include "fakes/FakeShell.h"
#include "fakes/FakeTrayHost.h"
#include "platform/Component.h"
#include "support/TestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>

using namespace fb;
using fb::RegRoot;

namespace {

const char* const kKey = "SOFTWARE\\Flowbright";

::testing::Environment* const kQtApp =
    ::testing::AddGlobalTestEnvironment(new fb::testing_support::QtApp);

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() {
        interfaces.AddRow(1, "Loopback (lo)", 0);
        interfaces.AddRow(2, "Intel Ethernet Controller", 100000000, 1000, 2000);
        interfaces.AddRow(5, "Realtek Wireless", 54000000, 0, 0);
        addresses.addresses = {0x0100007FU, 0x0501A8C0U}; // 127.0.0.1, 192.168.1.5
        platform.registry = &registry;
        platform.shell = &shell;
        platform.process = &process;
        platform.messageBox = &messages;
        platform.interfaces = &interfaces;
        platform.connection = &connection;
        platform.addresses = &addresses;
        platform.packetSockets = &sockets;
        platform.files = &files;
        platform.tray = &tray;
    }

    ~MainWindowTest() override { dialog.reset(); }

    // A stored, installed client: eMule in the Wine prefix.
    void InstallEmule() {
        registry.SetString(RegRoot::CurrentUser, "Software\\eMule", "Install Path",
                           "C:\\Program Files\\eMule");
        registry.SetString(RegRoot::CurrentUser, kKey, "APP_NAME", "Emule");
        registry.SetString(RegRoot::CurrentUser, kKey, "APP_PATH",
                           "C:\\Program Files\\eMule\\eMule.exe");
        files.existing.insert("C:\\Program Files\\eMule\\eMule.exe");
    }

    bool Start() {
        dialog = std::make_unique<CSwiftlaneDlg>(platform, mode);
        return dialog->OnInitDialog();
    }

    // A control of the template, found by the name it carries for assistive technologies.
    QWidget* Control(int id) const {
        return dialog->findChild<QWidget*>(QStringLiteral("control%1").arg(id));
    }
    QString Text(int id) const { return qobject_cast<QLabel*>(Control(id))->text(); }
    QComboBox* Combo(int id) const { return qobject_cast<QComboBox*>(Control(id)); }
    QPushButton* Button(int id) const { return qobject_cast<QPushButton*>(Control(id)); }
    CHistogramCtrl* Graph() const { return dialog->findChild<CHistogramCtrl*>(); }
    QMenu* SystemMenu() const { return dialog->findChild<QMenu*>(QStringLiteral("systemMenu")); }
    // A control's rectangle in the dialog's coordinates, whatever frame holds it.
    QRect InDialog(int id) const {
        const QWidget* widget = Control(id);
        return {widget->mapTo(dialog.get(), QPoint(0, 0)), widget->size()};
    }

    fb::fakes::FakeRegistry registry;
    fb::fakes::FakeShell shell;
    fb::fakes::FakeProcessInfo process;
    fb::fakes::FakeMessageBox messages;
    fb::fakes::FakeInterfaceTable interfaces;
    fb::fakes::FakeConnectionState connection;
    fb::fakes::FakeAddressTable addresses;
    fb::fakes::FakePacketSocketFactory sockets;
    fb::fakes::FakeFileSystem files;
    fb::fakes::FakeTrayHost tray;
    fb::Platform platform;
    std::atomic<std::int32_t> mode{0};
    std::unique_ptr<CSwiftlaneDlg> dialog;
};

} // namespace

TEST_F(MainWindowTest, ControlsStandAtTheirConvertedRectanglesInTemplateOrder) {
    ASSERT_TRUE(Start());
    // The dialog's size gives the base units it was laid out with.
    const int baseX = (dialog->width() * 4 + 269 / 2) / 269;
    const auto X = [&](int units) { return (units * baseX + 2) / 4; };
    EXPECT_EQ(dialog->width(), X(269));
    EXPECT_EQ(InDialog(res::IDC_QUIT).left(), X(151));
    EXPECT_EQ(InDialog(res::IDC_QUIT).width(), X(102));
    EXPECT_EQ(Control(res::IDC_GRAPH_FRAME)->geometry().left(), X(35));
    EXPECT_EQ(Control(res::IDC_GRAPH_FRAME)->geometry().width(), X(229));
    EXPECT_EQ(InDialog(res::IDC_RUN).left(), X(217));
    EXPECT_EQ(InDialog(res::IDC_SENT).left(), X(177));
    // The longest text each value shows fits inside its frame.
    const std::pair<int, QString> longest[] = {
        {res::IDC_DURATION, QStringLiteral(" 99 hrs : 59 mins : 59 secs")},
        {res::IDC_SENT, QStringLiteral(" 4294967295 ")},
        {res::IDC_TYPE, QStringLiteral(" LAN  Proxy ")},
    };
    for (const auto& [id, text] : longest) {
        auto* label = qobject_cast<QLabel*>(Control(id));
        EXPECT_LE(label->fontMetrics().horizontalAdvance(text), label->contentsRect().width())
            << text.toStdString();
    }
    // The tab order follows the template.
    std::vector<QWidget*> chain;
    QWidget* widget = dialog.get();
    for (int step = 0; step < 500; ++step) {
        widget = widget->nextInFocusChain();
        if (widget == dialog.get())
            break;
        if (widget->focusPolicy() != Qt::NoFocus && dialog->isAncestorOf(widget))
            chain.push_back(widget);
    }
    std::vector<QWidget*> expected;
    for (int id :
         {res::IDC_CLIENT, res::IDC_RUN, res::IDC_ACCELERATE, res::IDC_QUIT, res::IDC_ADAPTER})
        expected.push_back(Control(id));
    std::vector<QWidget*> templateOrder;
    for (QWidget* w : chain)
        if (std::find(expected.begin(), expected.end(), w) != expected.end())
            templateOrder.push_back(w);
    EXPECT_EQ(templateOrder, expected);
    // The graph lies over its placeholder.
    EXPECT_EQ(Graph()->geometry(), Control(res::IDC_GRAPH_FRAME)->geometry());
}

TEST_F(MainWindowTest, StartUpOrderWithNothingInstalled) {
    ASSERT_TRUE(Start());
    // The updater is the very first thing started.
    ASSERT_FALSE(shell.calls.empty());
    EXPECT_EQ(shell.calls[0].file, "UpdateApp.exe");
    EXPECT_TRUE(messages.shown.empty());
    // No client: one prompt row, both buttons disabled, sampling suspended, the mode on.
    EXPECT_EQ(Combo(res::IDC_CLIENT)->count(), 1);
    EXPECT_EQ(Combo(res::IDC_CLIENT)->itemText(0),
              QStringLiteral("No P2P Application has been detected"));
    EXPECT_FALSE(Button(res::IDC_RUN)->isEnabled());
    EXPECT_FALSE(Button(res::IDC_ACCELERATE)->isEnabled());
    EXPECT_TRUE(Button(res::IDC_ACCELERATE)->isChecked());
    EXPECT_EQ(Button(res::IDC_ACCELERATE)->text(), QStringLiteral("Mode: Active\nPush to stop"));
    EXPECT_EQ(mode.load(), 1);
    EXPECT_FALSE(Graph()->IsRunning());
    EXPECT_EQ(Text(res::IDC_SCALE_TOP), QStringLiteral("1,0%"));
    EXPECT_EQ(Text(res::IDC_SCALE_MIDDLE), QStringLiteral("0,5%"));
    EXPECT_EQ(Text(res::IDC_SCALE_BOTTOM), QStringLiteral("0%"));
    // Loopback is left out; the first listed adapter is selected.
    EXPECT_EQ(Combo(res::IDC_ADAPTER)->count(), 2);
    EXPECT_EQ(Combo(res::IDC_ADAPTER)->currentIndex(), 0);
    // The client field takes the keyboard when the window is activated.
    ASSERT_NE(dialog->focusWidget(), nullptr);
    EXPECT_TRUE(dialog->focusWidget() == Control(res::IDC_CLIENT) ||
                dialog->focusWidget()->parentWidget() == Control(res::IDC_CLIENT));
    // The statistics count from the start, accelerating or not.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return Text(res::IDC_DURATION) == QStringLiteral("  0 hrs :  0 mins :  1 secs"); },
        3000));
    EXPECT_EQ(Text(res::IDC_DURATION_ACC), QStringLiteral(" 0 hrs :  0 mins :  0 secs"));
}

TEST_F(MainWindowTest, MissingInterfaceFacilityEndsWithItsMessage) {
    interfaces.available = false;
    EXPECT_FALSE(Start());
    ASSERT_EQ(messages.shown.size(), 1U);
    EXPECT_EQ(messages.shown[0].text, "Error loading Iphlpapi.dll");
    EXPECT_EQ(dialog->result(), CSwiftlaneDlg::kResultTableMissing);
}

TEST_F(MainWindowTest, StoredClientAcceleratesAndTheFirstSampleSetsTheLabels) {
    InstallEmule();
    ASSERT_TRUE(Start());
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(Combo(res::IDC_CLIENT)->currentText(), QStringLiteral("Emule"));
    EXPECT_TRUE(Button(res::IDC_ACCELERATE)->isEnabled());
    EXPECT_TRUE(Graph()->IsRunning());
    dialog->OnSampleTimer();
    EXPECT_EQ(Text(res::IDC_SCALE_TOP), QStringLiteral("1.0%"));
    EXPECT_EQ(Text(res::IDC_SCALE_MIDDLE), QStringLiteral("0.5%"));
    // Half the nominal speed: 100 Mbit/s moves 6,250,000 bytes in 500 ms at full speed.
    interfaces.SetCounters(2, 1000 + 3125000, 2000);
    dialog->OnSampleTimer();
    EXPECT_EQ(Text(res::IDC_SCALE_TOP), QStringLiteral("100.0%"));
    EXPECT_EQ(Text(res::IDC_SCALE_MIDDLE), QStringLiteral("50.0%"));
}

TEST_F(MainWindowTest, RunStartsTheStoredPath) {
    InstallEmule();
    ASSERT_TRUE(Start());
    shell.calls.clear();
    QTest::mouseClick(Button(res::IDC_RUN), Qt::LeftButton);
    ASSERT_EQ(shell.calls.size(), 1U);
    EXPECT_EQ(shell.calls[0].file, "C:\\Program Files\\eMule\\eMule.exe");
    EXPECT_EQ(shell.calls[0].verb, "");
}

TEST_F(MainWindowTest, ReturnPressesTheFocusedPushButtonAndShiftF10OpensTheWindowMenu) {
    InstallEmule();
    ASSERT_TRUE(Start());
    shell.calls.clear();
    // The toggle keeps Space alone: Return changes nothing there.
    QTest::keyClick(Button(res::IDC_ACCELERATE), Qt::Key_Return);
    EXPECT_TRUE(Button(res::IDC_ACCELERATE)->isChecked());
    EXPECT_TRUE(shell.calls.empty());
    QTest::keyClick(Button(res::IDC_RUN), Qt::Key_Return);
    ASSERT_EQ(shell.calls.size(), 1U);
    EXPECT_EQ(shell.calls[0].file, "C:\\Program Files\\eMule\\eMule.exe");
    EXPECT_TRUE(SystemMenu() == nullptr || !SystemMenu()->isVisible());
    QTest::keyClick(Button(res::IDC_RUN), Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_NE(SystemMenu(), nullptr);
    EXPECT_TRUE(SystemMenu()->isVisible());
    SystemMenu()->hide();
}

TEST_F(MainWindowTest, ValuesAreReadByTheirTextsAndLabelledByTheirCaptions) {
    ASSERT_TRUE(Start());
    dialog->OnStatisticsTimer();
    const auto labelledBy = [](QWidget* widget) {
        QStringList names;
        for (const auto& [other, relation] :
             QAccessible::queryAccessibleInterface(widget)->relations(QAccessible::Label))
            names << other->text(QAccessible::Name);
        return names;
    };
    const auto name = [](QWidget* widget) {
        return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
    };
    EXPECT_EQ(name(Control(res::IDC_SENT)), Text(res::IDC_SENT));
    EXPECT_TRUE(labelledBy(Control(res::IDC_SENT)).contains(QStringLiteral("Bytes Sent")));
    EXPECT_TRUE(labelledBy(Control(res::IDC_DURATION_ACC))
                    .contains(QStringLiteral("Time spent accelerating")));
    EXPECT_EQ(name(Control(res::IDC_SCALE_TOP)), QStringLiteral("1,0%"));
    EXPECT_TRUE(labelledBy(Combo(res::IDC_CLIENT)).contains(QStringLiteral("Run P2P")));
    EXPECT_TRUE(labelledBy(Combo(res::IDC_ADAPTER)).contains(QStringLiteral("Network Adapter")));
    EXPECT_EQ(name(Graph()), QStringLiteral("Traffic graph"));
}

TEST_F(MainWindowTest, AccelerateOffAndOnKeepsTheRingAndTheDuration) {
    InstallEmule();
    ASSERT_TRUE(Start());
    interfaces.SetCounters(2, 1000 + 3125000 / 4, 2000);
    dialog->OnSampleTimer();
    dialog->OnAccelerateDurationTimer();
    ASSERT_EQ(Text(res::IDC_SCALE_TOP), QStringLiteral("25.0%"));
    QTest::mouseClick(Button(res::IDC_ACCELERATE), Qt::LeftButton);
    EXPECT_EQ(mode.load(), 0);
    EXPECT_FALSE(Button(res::IDC_ACCELERATE)->isChecked());
    EXPECT_EQ(Button(res::IDC_ACCELERATE)->text(),
              QStringLiteral("Mode: Inactive\nPush to accelerate"));
    EXPECT_FALSE(Graph()->IsRunning());
    EXPECT_EQ(sockets.SocketsOpen(), 0);
    QTest::mouseClick(Button(res::IDC_ACCELERATE), Qt::LeftButton);
    EXPECT_EQ(mode.load(), 1);
    EXPECT_TRUE(Button(res::IDC_ACCELERATE)->isChecked());
    EXPECT_TRUE(Graph()->IsRunning());
    EXPECT_EQ(sockets.SocketsOpened(), 2);
    // The peak is kept: an idle sample leaves the scale where it was.
    dialog->OnSampleTimer();
    EXPECT_EQ(Text(res::IDC_SCALE_TOP), QStringLiteral("25.0%"));
    dialog->OnAccelerateDurationTimer();
    EXPECT_EQ(Text(res::IDC_DURATION_ACC), QStringLiteral("  0 hrs :  0 mins :  2 secs"));
}

TEST_F(MainWindowTest, EscHidesAndSavesOptionsWhileQuitEnds) {
    ASSERT_TRUE(Start());
    dialog->show();
    QSignalSpy finished(dialog.get(), &QDialog::finished);
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(finished.count(), 0);
    std::uint32_t value = 0;
    EXPECT_TRUE(registry.GetDword(RegRoot::CurrentUser, kKey, "CheckPeriodNum", value));
    EXPECT_EQ(value, 12U);
    EXPECT_TRUE(registry.GetDword(RegRoot::CurrentUser, kKey, "AccelerateN", value));
    EXPECT_EQ(value, 7U);
    EXPECT_FALSE(Graph()->IsRunning());

    // The tray icon's double-click brings it back with the graph running.
    tray.Click(129, fb::kWmLButtonDblClk);
    EXPECT_TRUE(dialog->isVisible() || dialog->isMinimized());
    EXPECT_TRUE(Graph()->IsRunning());

    QTest::mouseClick(Button(res::IDC_QUIT), Qt::LeftButton);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(dialog->result(), CSwiftlaneDlg::kResultQuit);
}

TEST_F(MainWindowTest, AdapterChoiceIsStoredOnlyWhenItChanges) {
    ASSERT_TRUE(Start());
    const int writes = registry.writes;
    Combo(res::IDC_ADAPTER)->setCurrentIndex(0);
    Q_EMIT Combo(res::IDC_ADAPTER)->activated(0);
    EXPECT_EQ(registry.writes, writes);
    Combo(res::IDC_ADAPTER)->setCurrentIndex(1);
    Q_EMIT Combo(res::IDC_ADAPTER)->activated(1);
    std::uint32_t network = 0;
    EXPECT_TRUE(registry.GetDword(RegRoot::CurrentUser, kKey, "Network", network));
    EXPECT_EQ(network, 1U);
    // The statistics follow the adapter chosen.
    interfaces.SetCounters(5, 777, 888);
    dialog->OnStatisticsTimer();
    EXPECT_EQ(Text(res::IDC_RECEIVED), QStringLiteral(" 777 "));
}

TEST_F(MainWindowTest, StoredAdapterThatIsNoLongerListedSelectsTheFirst) {
    registry.SetDword(RegRoot::CurrentUser, kKey, "Network", 7);
    ASSERT_TRUE(Start());
    EXPECT_EQ(Combo(res::IDC_ADAPTER)->currentIndex(), 0);
    interfaces.SetCounters(2, 4242, 0);
    dialog->OnStatisticsTimer();
    EXPECT_EQ(Text(res::IDC_RECEIVED), QStringLiteral(" 4242 "));
}

TEST_F(MainWindowTest, StatisticsOnceASecond) {
    ASSERT_TRUE(Start());
    interfaces.SetCounters(2, 3000000000U, 123456);
    connection.flags = fb::kConnectionLan | fb::kConnectionProxy;
    dialog->OnStatisticsTimer();
    EXPECT_EQ(Text(res::IDC_RECEIVED), QStringLiteral(" 3000000000 "));
    EXPECT_EQ(Text(res::IDC_SENT), QStringLiteral(" 123456 "));
    EXPECT_EQ(Text(res::IDC_TYPE), QStringLiteral(" LAN  Proxy "));
    EXPECT_EQ(Text(res::IDC_STATUS), QStringLiteral(" Connected"));
    EXPECT_EQ(Text(res::IDC_DURATION), QStringLiteral("  0 hrs :  0 mins :  1 secs"));
    connection.connected = false;
    dialog->OnStatisticsTimer();
    EXPECT_EQ(Text(res::IDC_STATUS), QStringLiteral("N/A"));
    EXPECT_EQ(Text(res::IDC_TYPE), QStringLiteral(" LAN  Proxy "));
}

TEST_F(MainWindowTest, CountingGoesOnInTheTrayAndTheLabelsCatchUpWhenShown) {
    ASSERT_TRUE(Start());
    dialog->show();
    interfaces.SetCounters(2, 1000, 2000);
    dialog->OnStatisticsTimer();
    EXPECT_EQ(Text(res::IDC_RECEIVED), QStringLiteral(" 1000 "));

    dialog->OnCancel();
    ASSERT_FALSE(dialog->isVisible());
    interfaces.SetCounters(2, 5000, 6000);
    dialog->OnStatisticsTimer();
    dialog->OnStatisticsTimer();
    dialog->OnAccelerateDurationTimer();
    // Nobody sees the labels meanwhile; what they will show is kept.
    EXPECT_EQ(Text(res::IDC_RECEIVED), QStringLiteral(" 1000 "));
    EXPECT_EQ(Text(res::IDC_DURATION), QStringLiteral("  0 hrs :  0 mins :  1 secs"));

    tray.Click(129, fb::kWmLButtonDblClk);
    ASSERT_TRUE(dialog->isVisible());
    EXPECT_EQ(Text(res::IDC_RECEIVED), QStringLiteral(" 5000 "));
    EXPECT_EQ(Text(res::IDC_SENT), QStringLiteral(" 6000 "));
    EXPECT_EQ(Text(res::IDC_DURATION), QStringLiteral("  0 hrs :  0 mins :  3 secs"));
    EXPECT_EQ(Text(res::IDC_DURATION_ACC), QStringLiteral("  0 hrs :  0 mins :  1 secs"));
    dialog->OnStatisticsTimer();
    EXPECT_EQ(Text(res::IDC_DURATION), QStringLiteral("  0 hrs :  0 mins :  4 secs"));
}

TEST_F(MainWindowTest, RunAtStartupCheckMarkFollowsTheEntry) {
    ASSERT_TRUE(Start());
    CCmdUI item{res::ID_RUN_AT_STARTUP};
    EXPECT_TRUE(dialog->OnUpdateCommand(item));
    EXPECT_FALSE(item.checked);
    process.currentDirectory = "/home/ann/apps";
    dialog->OnCommand(res::ID_RUN_AT_STARTUP);
    EXPECT_EQ(registry.GetString(RegRoot::CurrentUser,
                                 "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", "Flowbright"),
              "\"/home/ann/apps/Flowbright.lnk\" -tray");
    CCmdUI again{res::ID_RUN_AT_STARTUP};
    dialog->OnUpdateCommand(again);
    EXPECT_TRUE(again.checked);
    CCmdUI other{res::ID_ABOUT};
    EXPECT_FALSE(dialog->OnUpdateCommand(other));
}

TEST_F(MainWindowTest, WebPageCommandsUseTheirVerbsAndShowCommands) {
    ASSERT_TRUE(Start());
    shell.calls.clear();
    dialog->OnCommand(res::ID_SAFETY);
    dialog->OnCommand(res::ID_EMUSIC);
    dialog->OnCommand(res::ID_HELP);
    ASSERT_EQ(shell.calls.size(), 3U);
    EXPECT_EQ(shell.calls[0].verb, "open");
    EXPECT_EQ(shell.calls[0].show, fb::kSwShowNormal);
    EXPECT_EQ(shell.calls[0].file.rfind("https://", 0), 0U);
    EXPECT_EQ(shell.calls[1].verb, "");
    EXPECT_EQ(shell.calls[1].show, fb::kSwShow);
    EXPECT_EQ(shell.calls[2].verb, "open");
    EXPECT_TRUE(shell.calls[2].parameters.empty());
}

TEST_F(MainWindowTest, HelpIsAFileUrlThatNamesThePageWhateverTheFolderIsCalled) {
    fb::testing_support::TempDir dir{"help"};
    const std::filesystem::path folder = dir.Path() / "My #1 %41pps?";
    const std::filesystem::path page = folder / "share" / "doc" / "flowbright" / "help.html";
    fb::testing_support::WriteFile(page, "<html></html>");
    std::filesystem::create_directories(folder / "bin");
    process.moduleFileName = (folder / "bin" / "flowbright").string();
    ASSERT_TRUE(Start());
    shell.calls.clear();
    dialog->OnCommand(res::ID_HELP);
    ASSERT_EQ(shell.calls.size(), 1U);
    const QUrl url(QString::fromStdString(shell.calls[0].file), QUrl::StrictMode);
    ASSERT_TRUE(url.isValid());
    EXPECT_TRUE(url.isLocalFile());
    EXPECT_EQ(url.toLocalFile().toStdString(), std::filesystem::canonical(page).string());
}

TEST_F(MainWindowTest, TextTypedIntoTheClientFieldChangesNothing) {
    registry.SetString(RegRoot::CurrentUser, "Software\\eMule", "Install Path",
                       "C:\\Program Files\\eMule");
    files.existing.insert("C:\\Program Files\\eMule\\eMule.exe");
    ASSERT_TRUE(Start());
    QComboBox* combo = Combo(res::IDC_CLIENT);
    ASSERT_EQ(combo->count(), 2);
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        combo->lineEdit()->selectAll();
        QTest::keyClicks(combo->lineEdit(), QStringLiteral("emule"));
        QTest::keyClick(combo->lineEdit(), key);
        EXPECT_EQ(combo->currentIndex(), 0);
        EXPECT_EQ(combo->lineEdit()->text(), QStringLiteral("Select application to run"));
        EXPECT_EQ(registry.GetString(RegRoot::CurrentUser, kKey, "APP_NAME"), "");
        EXPECT_FALSE(Button(res::IDC_RUN)->isEnabled());
    }
}

TEST_F(MainWindowTest, ExitEndsEvenWhileHidden) {
    ASSERT_TRUE(Start());
    dialog->show();
    dialog->OnCancel();
    EXPECT_FALSE(dialog->isVisible());
    QSignalSpy finished(dialog.get(), &QDialog::finished);
    dialog->OnCommand(res::ID_EXIT);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(dialog->result(), CSwiftlaneDlg::kResultExit);
}

TEST_F(MainWindowTest, WindowMenuCarriesAboutAfterASeparator) {
    ASSERT_TRUE(Start());
    QTest::keyClick(dialog.get(), Qt::Key_Menu);
    ASSERT_NE(SystemMenu(), nullptr);
    SystemMenu()->hide();
    const auto actions = SystemMenu()->actions();
    ASSERT_GE(actions.size(), 2);
    EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());
    EXPECT_EQ(actions.back()->text(), QStringLiteral("&About Flowbright..."));
}

TEST_F(MainWindowTest, GraphShowsBothLinesWhileAccelerating) {
    InstallEmule();
    ASSERT_TRUE(Start());
    dialog->show();
    std::uint32_t in = 1000, out = 2000;
    for (int sample = 0; sample < 12; ++sample) {
        in += 3125000 / 2; // half of the nominal speed
        out += 3125000 / 8;
        interfaces.SetCounters(2, in, out);
        dialog->OnSampleTimer();
        for (int tick = 0; tick < 5; ++tick)
            Graph()->Tick();
    }
    const QImage shot = dialog->grab().toImage();
    const QRect graph = Graph()->geometry();
    int green = 0, red = 0, greenTop = graph.bottom(), redTop = graph.bottom();
    for (int y = graph.top(); y <= graph.bottom(); ++y) {
        for (int x = graph.left(); x <= graph.right(); ++x) {
            const QRgb pixel = shot.pixel(x, y);
            if (pixel == qRgb(0, 255, 0)) {
                ++green;
                greenTop = std::min(greenTop, y);
            } else if (pixel == qRgb(255, 0, 0)) {
                ++red;
                redTop = std::min(redTop, y);
            }
        }
    }
    EXPECT_GT(green, 20);
    EXPECT_GT(red, 20);
    // Received traffic is four times the sent traffic: its line stands higher.
    EXPECT_LT(greenTop, redTop);
    // Nothing of either line is drawn outside the graph.
    int outside = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            if (!graph.contains(x, y) && shot.pixel(x, y) == qRgb(0, 255, 0))
                ++outside;
    EXPECT_EQ(outside, 0);
}

// Paint events each widget of the window receives.
class PaintCounter : public QObject {
public:
    std::map<const QObject*, int> paints;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints[watched];
        return false;
    }
};

TEST_F(MainWindowTest, ShownWindowRepaintsOnlyWhatChanges) {
    InstallEmule();
    ASSERT_TRUE(Start());
    dialog->show();
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    ASSERT_TRUE(Combo(res::IDC_CLIENT)->lineEdit()->hasFocus());
    QTest::qWait(200);
    PaintCounter counter;
    qApp->installEventFilter(&counter);
    // Traffic on every beat: the counters, the running times and the graph change; the caret in
    // the client field blinks.
    std::uint32_t in = 1000;
    for (int beat = 0; beat < 6; ++beat) {
        interfaces.SetCounters(2, in += 100000, 2000);
        QTest::qWait(500);
    }
    qApp->removeEventFilter(&counter);
    const auto painted = [&](const QObject* widget) {
        const auto found = counter.paints.find(widget);
        return found == counter.paints.end() ? 0 : found->second;
    };
    EXPECT_GT(painted(Control(res::IDC_RECEIVED)), 0);
    EXPECT_GT(painted(Graph()), 0);
    EXPECT_GT(painted(Combo(res::IDC_CLIENT)->lineEdit()), 0) << "the caret does not blink";
    // What stays as it was is not painted again: not the frames behind the changing labels,
    // not the client field's frame around its blinking caret, nor anything else.
    for (QWidget* widget : dialog->findChildren<QWidget*>()) {
        if (widget == Graph() || widget == Combo(res::IDC_CLIENT)->lineEdit() ||
            qobject_cast<QLabel*>(widget) != nullptr)
            continue;
        EXPECT_EQ(painted(widget), 0)
            << widget->metaObject()->className() << " " << widget->objectName().toStdString();
    }
    EXPECT_EQ(painted(dialog.get()), 0);
}
