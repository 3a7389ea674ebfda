// SPDX-License-Identifier: GPL-3.0-or-later
#include "res/Resources.h"

#include <gtest/gtest.h>

#include <set>

using namespace fb;

TEST(Resources, MainDialogControlsAreUniqueAndInsideTheDialog) {
    const auto& dialog = res::MainDialog();
    EXPECT_EQ(dialog.width, 269);
    EXPECT_EQ(dialog.height, 249);
    std::set<int> ids;
    for (const auto& control : dialog.controls) {
        if (control.id != res::IDC_STATIC) {
            EXPECT_TRUE(ids.insert(control.id).second) << control.id;
        }
        EXPECT_LE(control.x + control.width, dialog.width) << control.id;
        // Drop-down combo heights include their open list, which may pass the bottom.
        if (control.kind != res::ControlKind::DropDownCombo) {
            EXPECT_LE(control.y + control.height, dialog.height) << control.id;
        }
    }
    EXPECT_EQ(dialog.controls.size(), 25U);
    EXPECT_EQ(dialog.controls[1].id, res::IDC_CLIENT); // first tab stop holds the focus
}

TEST(Resources, TrayMenuHasElevenItemsWithTwoSeparators) {
    const auto menu = res::TrayMenu();
    ASSERT_EQ(menu.size(), 11U);
    EXPECT_EQ(menu[0].text, "Run at &Startup");
    EXPECT_EQ(menu[1].id, 0);
    EXPECT_EQ(menu[7].id, res::ID_HELP);
    EXPECT_EQ(menu[9].id, 0);
    EXPECT_EQ(menu[10].text, "&Exit");
    EXPECT_EQ(res::LoadString(res::IDS_ABOUTBOX), "&About Flowbright...");
    EXPECT_TRUE(res::LoadString(12345).empty());
}
