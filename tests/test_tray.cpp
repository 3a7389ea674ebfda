// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakes/FakeTrayHost.h"
#include "res/Resources.h"
#include "ui/CaptionFlight.h"
#include "ui/CommandTarget.h"
#include "ui/SystemTray.h"
#include "ui/TrayArea.h"

#include "support/TestSupport.h"

#include <QApplication>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace fb;

namespace {

using fb::TrayMenuEntry;
using fb::TrayRect;
using fb::fakes::FakeTrayHost;

::testing::Environment* const kQtApp =
    ::testing::AddGlobalTestEnvironment(new fb::testing_support::QtApp);

constexpr unsigned kCallback = 0x800A;
constexpr unsigned kIconId = res::IDR_TRAYMENU;

// The main window as the tray sees it: receives commands, answers command updates, gets the
// callback message and hands it on as the program's main window does.
class FakeMainWindow : public QObject, public ICommandTarget {
public:
    std::vector<int> commands;
    std::vector<int> offered;
    std::vector<std::pair<int, int>> notifications;
    int restoredAfterLoss = 0;
    std::function<bool(CCmdUI&)> update; // the command-update handlers

    void OnCommand(int id) override { commands.push_back(id); }
    bool OnUpdateCommand(CCmdUI& item) override {
        offered.push_back(item.id);
        return update ? update(item) : false;
    }

    // What the main window does with the tray: its callback message goes back to the
    // manager, and a restore after the loss of the notification area is noted.
    void Attach(CSystemTray& tray) {
        QObject::connect(
            &tray, &CSystemTray::TrayMessage, this, [this, &tray](int iconId, int mouseMessage) {
                notifications.emplace_back(iconId, mouseMessage);
                tray.HandleTrayMessage(static_cast<std::uintptr_t>(iconId), mouseMessage);
            });
        QObject::connect(&tray, &CSystemTray::RestoredAfterTrayLoss, this,
                         [this] { ++restoredAfterLoss; });
    }
};

class TrayTest : public ::testing::Test {
protected:
    TrayTest() { window.Attach(tray); }

    bool SetUpShown() {
        return tray.Setup(&window, kCallback, "Flowbright", QIcon(), kIconId, false);
    }

    FakeTrayHost host;
    FakeMainWindow window;
    CSystemTray tray{host}; // the window that sets it up is the main window
};

// ---- states and the order of requests -------------------------------------------------------

TEST_F(TrayTest, WithoutNotificationAreaSetupFailsAndNothingIsSent) {
    host.available = false;
    EXPECT_FALSE(SetUpShown());
    EXPECT_TRUE(host.requests.empty());
    EXPECT_FALSE(host.Listening());
    EXPECT_TRUE(tray.RemoveFromTray());
    EXPECT_FALSE(tray.ReAddIfPending());
    tray.OnTaskbarCreated();
    tray.OnWorkAreaChanged();
    EXPECT_TRUE(host.requests.empty());
    EXPECT_FALSE(tray.CanHideToTray());
}

TEST_F(TrayTest, SetupAddsTheIconWithFlagsCallbackAndTip) {
    ASSERT_TRUE(SetUpShown());
    ASSERT_EQ(host.requests.size(), 1U);
    const auto& request = host.requests[0];
    EXPECT_EQ(request.kind, FakeTrayHost::Kind::Add);
    EXPECT_EQ(request.data.id, kIconId);
    EXPECT_EQ(request.data.flags, 7U);
    EXPECT_EQ(request.data.callbackMessage, kCallback);
    EXPECT_EQ(request.data.tip, "Flowbright");
    EXPECT_TRUE(host.Shows(kIconId));
    EXPECT_TRUE(tray.CanHideToTray());
}

TEST_F(TrayTest, StartHiddenAddsNothingAndStaysOutOfTheTray) {
    EXPECT_TRUE(tray.Setup(&window, kCallback, "Flowbright", QIcon(), kIconId, true));
    EXPECT_EQ(host.AddCount(), 0U);
    tray.OnTaskbarCreated();
    tray.OnWorkAreaChanged();
    EXPECT_EQ(host.AddCount(), 0U);
    EXPECT_FALSE(tray.CanHideToTray());
}

TEST_F(TrayTest, RefusedAddIsRetriedWhenTheNotificationAreaReturns) {
    // Refused at set-up, and refused again when a change of the work area adds it anew.
    host.addResults = {false};
    EXPECT_FALSE(SetUpShown());
    for (const std::size_t adds : {2U, 4U}) {
        EXPECT_FALSE(tray.CanHideToTray());
        // Not hidden on purpose: the next report of the notification area brings it back.
        host.HostAppears();
        EXPECT_EQ(host.AddCount(), adds);
        EXPECT_TRUE(host.Shows(kIconId));
        EXPECT_TRUE(tray.CanHideToTray());
        host.addResults = {false};
        host.WorkAreaChanges();
    }
}

TEST_F(TrayTest, TaskbarCreatedReAddsOnlyWhileNotHidden) {
    ASSERT_TRUE(SetUpShown());
    host.HostAppears();
    EXPECT_EQ(host.AddCount(), 2U);
    EXPECT_EQ(host.requests[1].data.flags, 7U);

    EXPECT_TRUE(tray.RemoveFromTray());
    host.HostAppears();
    EXPECT_EQ(host.AddCount(), 2U);
}

TEST_F(TrayTest, WorkAreaChangeWhileHiddenSendsNothing) {
    ASSERT_TRUE(SetUpShown());
    ASSERT_TRUE(tray.RemoveFromTray());
    host.WorkAreaChanges();
    EXPECT_EQ(host.AddCount(), 1U);
}

TEST_F(TrayTest, RemoveFromTrayDeletesOnceAndCancelsAPendingAdd) {
    ASSERT_TRUE(SetUpShown());
    EXPECT_TRUE(tray.RemoveFromTray());
    ASSERT_EQ(host.DeleteCount(), 1U);
    EXPECT_EQ(host.requests.back().data.id, kIconId);
    EXPECT_FALSE(host.Shows(kIconId));
    EXPECT_FALSE(tray.CanHideToTray());

    EXPECT_TRUE(tray.RemoveFromTray());
    EXPECT_EQ(host.DeleteCount(), 1U);
}

TEST_F(TrayTest, RefusedDeleteLeavesTheFlags) {
    ASSERT_TRUE(SetUpShown());
    host.shownIcons.clear(); // the notification area no longer knows the icon
    EXPECT_FALSE(tray.RemoveFromTray());
    EXPECT_EQ(host.DeleteCount(), 1U);
    EXPECT_TRUE(tray.CanHideToTray());
}

TEST_F(TrayTest, DestructionRemovesTheIconAndStopsListening) {
    {
        CSystemTray local(host, &window);
        ASSERT_TRUE(local.Setup(nullptr, kCallback, "x", QIcon(), 5, false));
        EXPECT_TRUE(host.Listening());
    }
    EXPECT_EQ(host.DeleteCount(), 1U);
    EXPECT_FALSE(host.Shows(5));
    EXPECT_FALSE(host.Listening());
    host.HostAppears(); // must not reach the destroyed manager
    EXPECT_EQ(host.AddCount(), 1U);
}

TEST_F(TrayTest, TipIsCutTo127BytesAndANullTipIsEmpty) {
    const std::string longTip(200, 'a');
    ASSERT_TRUE(tray.Setup(&window, kCallback, longTip.c_str(), QIcon(), kIconId, false));
    EXPECT_EQ(host.requests[0].data.tip, std::string(127, 'a'));

    CSystemTray other(host, &window);
    ASSERT_TRUE(other.Setup(&window, kCallback, nullptr, QIcon(), 7, false));
    EXPECT_EQ(host.requests.back().data.tip, "");
}

TEST(TruncateTip, KeepsWholeUtf8SequencesAtTheLimit) {
    EXPECT_EQ(fb::TruncateTip(std::string(127, 'x')), std::string(127, 'x'));
    EXPECT_EQ(fb::TruncateTip(std::string(128, 'x')), std::string(127, 'x'));
    EXPECT_EQ(fb::TruncateTip(""), "");
    // 126 ASCII bytes and a two-byte letter end at byte 128: the letter goes whole.
    const std::string straddling = std::string(126, 'x') + "\xC3\xA9";
    EXPECT_EQ(fb::TruncateTip(straddling), std::string(126, 'x'));
    // 125 ASCII bytes and the two-byte letter end at byte 127: it stays.
    const std::string fitting = std::string(125, 'x') + "\xC3\xA9";
    EXPECT_EQ(fb::TruncateTip(fitting), fitting);
    // A four-byte sequence crossing the limit.
    const std::string emoji = std::string(125, 'x') + "\xF0\x9F\x98\x80";
    EXPECT_EQ(fb::TruncateTip(emoji), std::string(125, 'x'));
}

// ---- the menu -----------------------------------------------------------------------------

TEST(MenuResource, Menu129HoldsTheSettingsPopupAndOthersAreMissing) {
    const auto menu = fb::LoadMenuResource(129);
    ASSERT_TRUE(menu.has_value());
    ASSERT_EQ(menu->size(), 1U);
    EXPECT_EQ(menu->front().text, "Settings");
    ASSERT_EQ(menu->front().submenu.size(), 11U);
    EXPECT_EQ(menu->front().submenu[0].id, res::ID_RUN_AT_STARTUP);
    EXPECT_TRUE(menu->front().submenu[1].separator);
    EXPECT_EQ(menu->front().submenu[10].text, "&Exit");
    EXPECT_FALSE(fb::LoadMenuResource(130).has_value());
    EXPECT_FALSE(fb::LoadMenuResource(0).has_value());
}

TEST_F(TrayTest, RightButtonWithoutMenuResourceShowsNothing) {
    ASSERT_TRUE(tray.Setup(&window, kCallback, "Flowbright", QIcon(), 130, false));
    EXPECT_EQ(tray.HandleTrayMessage(130, fb::kWmRButtonUp), 0);
    EXPECT_TRUE(host.menusShown.empty());
    EXPECT_TRUE(window.commands.empty());
    EXPECT_TRUE(window.offered.empty());
}

TEST_F(TrayTest, MessagesForAnotherIconOrWithoutTargetAreIgnored) {
    ASSERT_TRUE(SetUpShown());
    EXPECT_EQ(tray.HandleTrayMessage(128, fb::kWmRButtonUp), 0);
    EXPECT_TRUE(host.menusShown.empty());

    CSystemTray orphan(host, nullptr);
    ASSERT_TRUE(orphan.Setup(nullptr, kCallback, "x", QIcon(), kIconId, false));
    EXPECT_EQ(orphan.HandleTrayMessage(kIconId, fb::kWmRButtonUp), 0);
    EXPECT_EQ(orphan.HandleTrayMessage(kIconId, fb::kWmLButtonDblClk), 0);
    EXPECT_TRUE(host.menusShown.empty());
    EXPECT_TRUE(window.commands.empty());
}

TEST_F(TrayTest, RightButtonRoutesUpdatesShowsTheMenuAndDeliversTheChoice) {
    ASSERT_TRUE(SetUpShown());
    bool runAtStartup = true;
    window.update = [&](CCmdUI& item) {
        if (item.id == res::ID_RUN_AT_STARTUP) {
            item.checked = runAtStartup;
            return true;
        }
        if (item.id == res::ID_EMUSIC) {
            item.removed = true;
            return true;
        }
        if (item.id == res::ID_HELP) {
            item.enabled = false;
            return true;
        }
        return false;
    };
    host.chooseFromMenu = [](const std::vector<TrayMenuEntry>&) { return res::ID_EXIT; };

    host.Click(kIconId, fb::kWmRButtonUp);

    // The callback message went to the main window, which handed it to the manager.
    ASSERT_EQ(window.notifications.size(), 1U);
    EXPECT_EQ(window.notifications[0].first, static_cast<int>(kIconId));
    EXPECT_EQ(window.notifications[0].second, static_cast<int>(fb::kWmRButtonUp));

    const std::vector<int> expectedOffered{
        res::ID_RUN_AT_STARTUP, res::ID_SAFETY,    res::ID_FILE_SHARING,
        res::ID_EMUSIC,         res::ID_ANONYMOUS, res::ID_MEDIA,
        res::ID_HELP,           res::ID_ABOUT,     res::ID_EXIT};
    EXPECT_EQ(window.offered, expectedOffered);

    ASSERT_EQ(host.menusShown.size(), 1U);
    const auto& shown = host.menusShown[0];
    ASSERT_EQ(shown.size(), 10U);
    EXPECT_EQ(shown[0].text, "Run at &Startup");
    EXPECT_TRUE(shown[0].checked);
    EXPECT_TRUE(shown[1].separator);
    EXPECT_EQ(shown[4].id, res::ID_ANONYMOUS);
    for (const auto& entry : shown) {
        EXPECT_NE(entry.id, res::ID_EMUSIC);
        EXPECT_EQ(entry.enabled, entry.id != res::ID_HELP) << entry.text;
        EXPECT_FALSE(entry.isDefault) << entry.text; // default item 0 names no item
    }
    EXPECT_EQ(window.commands, std::vector<int>{res::ID_EXIT});

    // Without the start-up entry the check mark goes; a dismissed menu delivers nothing.
    runAtStartup = false;
    host.chooseFromMenu = nullptr;
    EXPECT_EQ(tray.HandleTrayMessage(kIconId, fb::kWmRButtonUp), 1);
    ASSERT_EQ(host.menusShown.size(), 2U);
    EXPECT_FALSE(host.menusShown[1][0].checked);
    EXPECT_EQ(window.commands.size(), 1U);
}

TEST_F(TrayTest, LowWordOfLParamSelectsTheMouseMessage) {
    ASSERT_TRUE(SetUpShown());
    EXPECT_EQ(tray.HandleTrayMessage(kIconId, 0x70000 | fb::kWmRButtonUp), 1);
    EXPECT_EQ(host.menusShown.size(), 1U);
    EXPECT_EQ(tray.HandleTrayMessage(kIconId, 0x200), 1); // mouse move: nothing
    EXPECT_EQ(tray.HandleTrayMessage(kIconId, 0x202), 1); // single click: nothing
    EXPECT_EQ(host.menusShown.size(), 1U);
    EXPECT_TRUE(window.commands.empty());
}

TEST_F(TrayTest, DoubleClickPostsTheDefaultItemCommand) {
    ASSERT_TRUE(SetUpShown());
    host.Click(kIconId, fb::kWmLButtonDblClk);
    EXPECT_EQ(window.commands, std::vector<int>{0}); // the program's setting: nothing handles it

    window.commands.clear();
    tray.SetMenuDefaultItem(res::ID_ABOUT, false);
    EXPECT_EQ(tray.HandleTrayMessage(kIconId, fb::kWmLButtonDblClk), 1);
    EXPECT_EQ(window.commands, std::vector<int>{res::ID_ABOUT});
    EXPECT_TRUE(host.menusShown.empty());
}

TEST_F(TrayTest, DefaultItemByPositionReadsThePopup) {
    ASSERT_TRUE(SetUpShown());
    tray.SetMenuDefaultItem(2, true);
    tray.HandleTrayMessage(kIconId, fb::kWmLButtonDblClk);
    tray.SetMenuDefaultItem(1, true); // a separator: command 0
    tray.HandleTrayMessage(kIconId, fb::kWmLButtonDblClk);
    tray.SetMenuDefaultItem(11, true); // past the end: nothing
    EXPECT_EQ(tray.HandleTrayMessage(kIconId, fb::kWmLButtonDblClk), 1);
    EXPECT_EQ(window.commands, (std::vector<int>{res::ID_SAFETY, 0}));

    tray.SetMenuDefaultItem(10, true);
    tray.HandleTrayMessage(kIconId, fb::kWmRButtonUp);
    ASSERT_EQ(host.menusShown.size(), 1U);
    for (std::size_t i = 0; i < host.menusShown[0].size(); ++i)
        EXPECT_EQ(host.menusShown[0][i].isDefault, i == 10) << i;
}

TEST_F(TrayTest, DefaultItemByCommandIsMarkedInTheMenu) {
    ASSERT_TRUE(SetUpShown());
    tray.SetMenuDefaultItem(res::ID_ABOUT, false);
    tray.HandleTrayMessage(kIconId, fb::kWmRButtonUp);
    ASSERT_EQ(host.menusShown.size(), 1U);
    int defaults = 0;
    for (const auto& entry : host.menusShown[0]) {
        if (entry.isDefault) {
            ++defaults;
            EXPECT_EQ(entry.id, res::ID_ABOUT);
        }
    }
    EXPECT_EQ(defaults, 1);
}

class AdjustingTray : public CSystemTray {
public:
    using CSystemTray::CSystemTray;
    void AdjustTrayMenu(std::vector<TrayMenuEntry>& menu) override {
        TrayMenuEntry extra;
        extra.id = 40000;
        extra.text = "Extra";
        menu.insert(menu.begin(), extra);
    }
};

TEST_F(TrayTest, AdjustTrayMenuRunsBeforeTheUpdatesAndTheMenu) {
    AdjustingTray adjusting(host, &window);
    ASSERT_TRUE(adjusting.Setup(nullptr, kCallback, "x", QIcon(), kIconId, false));
    host.Click(kIconId, fb::kWmRButtonUp); // no parent: straight to the manager
    EXPECT_TRUE(window.notifications.empty());
    ASSERT_EQ(host.menusShown.size(), 1U);
    EXPECT_EQ(host.menusShown[0].size(), 12U);
    EXPECT_EQ(host.menusShown[0][0].text, "Extra");
    ASSERT_FALSE(window.offered.empty());
    EXPECT_EQ(window.offered[0], 40000);
}

TEST_F(TrayTest, CommandTargetIsTheOneSetElseTheMainWindow) {
    EXPECT_EQ(tray.CommandTarget(), nullptr);
    ASSERT_TRUE(SetUpShown());
    EXPECT_EQ(tray.CommandTarget(), static_cast<ICommandTarget*>(&window));

    FakeMainWindow other;
    tray.SetCommandTarget(&other);
    EXPECT_EQ(tray.CommandTarget(), static_cast<ICommandTarget*>(&other));
    tray.HandleTrayMessage(kIconId, fb::kWmLButtonDblClk);
    EXPECT_EQ(other.commands, std::vector<int>{0});
    EXPECT_TRUE(window.commands.empty());

    // A main window given at construction stays the fallback whatever the parent.
    FakeMainWindow main;
    CSystemTray withMain(host, &main);
    QObject plainParent;
    ASSERT_TRUE(withMain.Setup(&plainParent, kCallback, "x", QIcon(), 3, false));
    EXPECT_EQ(withMain.CommandTarget(), static_cast<ICommandTarget*>(&main));
}

TEST_F(TrayTest, ParentThatIsNoCommandTargetLeavesNoTarget) {
    CSystemTray plain(host);
    QObject parent;
    int reported = 0;
    QObject::connect(&plain, &CSystemTray::TrayMessage, &parent, [&reported] { ++reported; });
    ASSERT_TRUE(plain.Setup(&parent, kCallback, "x", QIcon(), kIconId, false));
    host.Click(kIconId, fb::kWmRButtonUp);
    EXPECT_EQ(reported, 1); // the callback message reaches the parent
    EXPECT_EQ(plain.HandleTrayMessage(kIconId, fb::kWmRButtonUp), 0);
    EXPECT_TRUE(host.menusShown.empty());
}

// ---- command-update routing ---------------------------------------------------------------

class RecordingTarget : public ICommandTarget {
public:
    std::vector<int> offered;
    std::function<bool(CCmdUI&)> update;
    void OnCommand(int) override {}
    bool OnUpdateCommand(CCmdUI& item) override {
        offered.push_back(item.id);
        return update ? update(item) : false;
    }
};

TrayMenuEntry Item(int id) {
    TrayMenuEntry entry;
    entry.id = id;
    entry.text = std::to_string(id);
    return entry;
}

TrayMenuEntry Separator() {
    TrayMenuEntry entry;
    entry.separator = true;
    return entry;
}

std::vector<int> Ids(const std::vector<TrayMenuEntry>& menu) {
    std::vector<int> ids;
    for (const auto& entry : menu)
        ids.push_back(entry.separator ? 0 : entry.id);
    return ids;
}

TEST(RouteCommandUpdates, SkipsSeparatorsAndLeavesUnhandledItemsEnabled) {
    std::vector<TrayMenuEntry> menu{Item(1), Separator(), Item(2), Item(3)};
    RecordingTarget target;
    target.update = [](CCmdUI& item) {
        if (item.id != 2)
            return false;
        item.enabled = false;
        item.checked = true;
        return true;
    };
    fb::RouteCommandUpdates(menu, target);
    EXPECT_EQ(target.offered, (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(menu[0].enabled);
    EXPECT_FALSE(menu[2].enabled);
    EXPECT_TRUE(menu[2].checked);
    EXPECT_TRUE(menu[3].enabled);
    EXPECT_FALSE(menu[3].checked);
}

TEST(RouteCommandUpdates, RemovalsAtTheEdgesNeitherSkipNorRepeatItems) {
    std::vector<TrayMenuEntry> menu{Item(1), Item(2), Separator(), Item(3)};
    RecordingTarget target;
    target.update = [](CCmdUI& item) {
        item.removed = item.id == 1 || item.id == 3;
        return true;
    };
    fb::RouteCommandUpdates(menu, target);
    EXPECT_EQ(target.offered, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(Ids(menu), (std::vector<int>{2, 0}));
}

TEST(RouteCommandUpdates, EveryCopyOfARemovedIdIsOfferedAndRemoved) {
    std::vector<TrayMenuEntry> menu{Item(1), Item(2), Item(2), Item(3)};
    RecordingTarget target;
    target.update = [](CCmdUI& item) {
        item.removed = item.id == 2;
        return true;
    };
    fb::RouteCommandUpdates(menu, target);
    EXPECT_EQ(target.offered, (std::vector<int>{1, 2, 2, 3}));
    EXPECT_EQ(Ids(menu), (std::vector<int>{1, 3}));
}

TEST(RouteCommandUpdates, RemovingEverythingEndsTheWalk) {
    std::vector<TrayMenuEntry> menu{Item(5), Item(6), Item(7)};
    RecordingTarget target;
    target.update = [](CCmdUI& item) {
        item.removed = true;
        return true;
    };
    fb::RouteCommandUpdates(menu, target);
    EXPECT_EQ(target.offered, (std::vector<int>{5, 6, 7}));
    EXPECT_TRUE(menu.empty());
}

TEST(RouteCommandUpdates, SubmenuEntriesAreOfferedWithTheirFirstItem) {
    TrayMenuEntry sub;
    sub.text = "More";
    sub.submenu = {Item(70), Item(71)};
    TrayMenuEntry badSub;
    badSub.text = "Starts with a separator";
    badSub.submenu = {Separator(), Item(80)};
    std::vector<TrayMenuEntry> menu{sub, badSub, Item(9)};
    RecordingTarget target;
    target.update = [](CCmdUI& item) {
        item.checked = true;
        return true;
    };
    fb::RouteCommandUpdates(menu, target);
    EXPECT_EQ(target.offered, (std::vector<int>{70, 9}));
    EXPECT_TRUE(menu[0].checked);
    EXPECT_FALSE(menu[1].checked);
    EXPECT_TRUE(menu[0].enabled);
}

// ---- the tray rectangle -------------------------------------------------------------------

TEST(TrayArea, IconGeometryWinsWhenTheDesktopTellsIt) {
    FakeTrayHost host;
    host.iconGeometry = TrayRect{1800, 1052, 1824, 1076};
    EXPECT_EQ(fb::LocateTrayArea(host, kIconId), (TrayRect{1800, 1052, 1824, 1076}));
    host.iconGeometry = TrayRect{10, 10, 10, 30}; // empty: not usable
    EXPECT_EQ(fb::LocateTrayArea(host, kIconId), (TrayRect{1820, 1050, 1904, 1080}));
}

TEST(TrayArea, PanelOnEachEdgeGivesItsIconArea) {
    FakeTrayHost host;
    host.screenArea = {0, 0, 1920, 1080};

    host.workArea = {0, 0, 1920, 1050}; // bottom panel, 30 high
    EXPECT_EQ(fb::LocateTrayArea(host, 1), (TrayRect{1820, 1050, 1904, 1080}));
    host.workArea = {0, 27, 1920, 1080}; // top bar
    EXPECT_EQ(fb::LocateTrayArea(host, 1), (TrayRect{1820, 0, 1904, 27}));
    host.workArea = {48, 0, 1920, 1080}; // left dock
    EXPECT_EQ(fb::LocateTrayArea(host, 1), (TrayRect{0, 980, 48, 1064}));
    host.workArea = {0, 0, 1872, 1080}; // right dock
    EXPECT_EQ(fb::LocateTrayArea(host, 1), (TrayRect{1872, 980, 1920, 1064}));
}

TEST(TrayArea, WithoutPanelTheWorkAreaCornerBoxIsUsed) {
    FakeTrayHost host;
    host.screenArea = {0, 0, 1920, 1080};
    host.workArea = {0, 0, 1920, 1080};
    EXPECT_EQ(fb::LocateTrayArea(host, 1), (TrayRect{1770, 1050, 1920, 1080}));
    EXPECT_EQ(fb::TrayAreaFromWorkArea({100, 50, 900, 650}), (TrayRect{750, 620, 900, 650}));

    // No screen known at all: still the corner box of what the work area says.
    host.screenArea = {};
    host.workArea = {0, 0, 800, 600};
    EXPECT_EQ(fb::LocateTrayArea(host, 1), (TrayRect{650, 570, 800, 600}));
}

TEST(TrayArea, TaskbarRulesAndTies) {
    TrayRect rect{1, 2, 3, 4};
    EXPECT_FALSE(fb::TrayAreaFromTaskbar({{0, 0, 100, 30}, 7}, rect));
    EXPECT_EQ(rect, (TrayRect{1, 2, 3, 4}));

    // Panels on two edges: the thicker one, on a tie the bottom.
    const TrayRect screen{0, 0, 1000, 800};
    auto bar = fb::TaskbarFromWorkArea(screen, {0, 30, 1000, 770});
    ASSERT_TRUE(bar.has_value());
    EXPECT_EQ(bar->edge, fb::kEdgeBottom);
    EXPECT_EQ(bar->rect, (TrayRect{0, 770, 1000, 800}));
    bar = fb::TaskbarFromWorkArea(screen, {64, 30, 1000, 800});
    ASSERT_TRUE(bar.has_value());
    EXPECT_EQ(bar->edge, fb::kEdgeLeft);
    EXPECT_FALSE(fb::TaskbarFromWorkArea(screen, screen).has_value());
    EXPECT_FALSE(fb::TaskbarFromWorkArea(screen, {}).has_value());
    // A work area larger than the screen (several screens) is cut to the screen.
    EXPECT_FALSE(fb::TaskbarFromWorkArea(screen, {-10, -10, 2000, 2000}).has_value());
}

TEST(CaptionFrame, FliesBetweenTheCaptionStripsOfBothRectangles) {
    const TrayRect from{100, 100, 500, 400};
    const TrayRect to{1800, 1050, 1950, 1080};
    EXPECT_EQ(fb::CaptionFrameAt(from, to, 0.0, 20), (TrayRect{100, 100, 500, 120}));
    EXPECT_EQ(fb::CaptionFrameAt(from, to, 1.0, 20), (TrayRect{1800, 1050, 1950, 1070}));
    EXPECT_EQ(fb::CaptionFrameAt(from, to, 0.5, 20), (TrayRect{950, 575, 1225, 595}));
    EXPECT_EQ(fb::CaptionFrameAt(from, to, -1.0, 20), fb::CaptionFrameAt(from, to, 0.0, 20));
    EXPECT_EQ(fb::CaptionFrameAt(from, to, 2.0, 20), fb::CaptionFrameAt(from, to, 1.0, 20));
    // A rectangle lower than a caption keeps its own height.
    EXPECT_EQ(fb::CaptionFrameAt({0, 0, 150, 10}, from, 0.0, 20), (TrayRect{0, 0, 150, 10}));
}

// ---- hiding to the tray and restoring -----------------------------------------------------

int Flights() {
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String(fb::CaptionFlight::kObjectName) &&
            widget->isVisible())
            ++count;
    }
    return count;
}

class HideTest : public TrayTest {
protected:
    HideTest() {
        widget.setGeometry(200, 200, 400, 300);
        widget.show();
    }
    ~HideTest() override { QTRY_COMPARE_WITH_TIMEOUT(Flights(), 0, 2000); }

    // Hides the window and restores it, neither with a flight: hiding either hides it (to a
    // tray that can take it) or minimises it (so that the user can always get it back);
    // restoring brings it back on the screen.
    void ExpectHideAndRestoreWithoutFlight(bool forceAnimation, bool minimises) {
        HideWindowToTray(&widget, forceAnimation, &tray);
        EXPECT_EQ(widget.isHidden(), !minimises);
        EXPECT_EQ(widget.isMinimized(), minimises);
        EXPECT_EQ(Flights(), 0);
        RestoreWindowFromTray(&widget, false, &tray);
        EXPECT_TRUE(widget.isVisible());
        EXPECT_FALSE(widget.isMinimized());
        EXPECT_EQ(Flights(), 0);
    }
    void ExpectHidingMinimises(bool forceAnimation) {
        ExpectHideAndRestoreWithoutFlight(forceAnimation, true);
    }

    QWidget widget;
};

TEST_F(HideTest, HidesAndRestoresWithoutAnimationWhenTheDesktopHasNone) {
    ASSERT_TRUE(SetUpShown());
    ExpectHideAndRestoreWithoutFlight(false, false);
}

TEST_F(HideTest, WithoutNotificationAreaHidingMinimisesInstead) {
    host.available = false;
    EXPECT_FALSE(SetUpShown());
    ExpectHidingMinimises(true);
}

TEST_F(HideTest, RefusedIconMinimisesInstead) {
    host.addResult = false;
    EXPECT_FALSE(SetUpShown());
    ExpectHidingMinimises(false);
}

TEST_F(HideTest, NotificationAreaGoneSinceSetupMinimisesInstead) {
    ASSERT_TRUE(SetUpShown());
    host.available = false; // an XEmbed tray that went away without a word
    EXPECT_FALSE(tray.CanHideToTray());
    ExpectHidingMinimises(false);
}

TEST_F(HideTest, AnimationRunsWhenTheDesktopAnimatesOrWhenForced) {
    ASSERT_TRUE(SetUpShown());
    host.animations = true;
    HideWindowToTray(&widget, false, &tray);
    EXPECT_TRUE(widget.isHidden());
    EXPECT_EQ(Flights(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(Flights(), 0, 2000);

    // Restoring shows the window when the frame has landed.
    RestoreWindowFromTray(&widget, false, &tray);
    EXPECT_EQ(Flights(), 1);
    EXPECT_TRUE(widget.isHidden());
    QTRY_VERIFY_WITH_TIMEOUT(widget.isVisible(), 2000);

    host.animations = false;
    HideWindowToTray(&widget, true, &tray);
    EXPECT_EQ(Flights(), 1);
}

TEST_F(HideTest, HidingAgainDuringTheRestoreFlightKeepsTheWindowHidden) {
    ASSERT_TRUE(SetUpShown());
    HideWindowToTray(&widget, false, &tray);
    RestoreWindowFromTray(&widget, true, &tray);
    HideWindowToTray(&widget, false, &tray);
    QTRY_COMPARE_WITH_TIMEOUT(Flights(), 0, 2000);
    QTest::qWait(50);
    EXPECT_TRUE(widget.isHidden());
}

TEST_F(HideTest, LossOfTheNotificationAreaBringsTheHiddenWindowBack) {
    ASSERT_TRUE(SetUpShown());
    HideWindowToTray(&widget, false, &tray);
    ASSERT_TRUE(widget.isHidden());

    host.HostGoes();
    EXPECT_TRUE(widget.isVisible());
    EXPECT_EQ(window.restoredAfterLoss, 1);
    EXPECT_FALSE(tray.CanHideToTray());

    // Closing now minimises; the returning notification area gets the icon back.
    HideWindowToTray(&widget, false, &tray);
    EXPECT_TRUE(widget.isMinimized());
    host.HostAppears();
    EXPECT_EQ(host.AddCount(), 2U);
    EXPECT_TRUE(tray.CanHideToTray());
}

TEST_F(HideTest, LossOfTheNotificationAreaLeavesAShownWindowAlone) {
    ASSERT_TRUE(SetUpShown());
    HideWindowToTray(&widget, false, &tray);
    RestoreWindowFromTray(&widget, false, &tray);
    host.HostGoes();
    EXPECT_EQ(window.restoredAfterLoss, 0);
    EXPECT_TRUE(widget.isVisible());
}

TEST_F(HideTest, WithoutTrayManagerHidingMinimises) {
    HideWindowToTray(&widget, true, nullptr);
    EXPECT_TRUE(widget.isMinimized());
    RestoreWindowFromTray(&widget, true, nullptr);
    EXPECT_FALSE(widget.isMinimized());
    EXPECT_TRUE(widget.isVisible());
    EXPECT_EQ(Flights(), 0);
}

TEST_F(HideTest, NullWindowIsIgnored) {
    ASSERT_TRUE(SetUpShown());
    HideWindowToTray(nullptr, true, &tray);
    RestoreWindowFromTray(nullptr, true, &tray);
    EXPECT_EQ(Flights(), 0);
}

} // namespace
