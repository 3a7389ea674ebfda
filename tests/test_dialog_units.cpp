// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/DialogUnits.h"

#include "support/TestSupport.h"

#include <QApplication>
#include <QFont>

#include <gtest/gtest.h>

using namespace fb;

namespace {
::testing::Environment* const kQtApp =
    ::testing::AddGlobalTestEnvironment(new fb::testing_support::QtApp);
} // namespace

TEST(DialogUnits, ConvertsWithTheBaseUnitsAndRoundsToNearest) {
    // The classic 8-point dialog font: base units 6 x 13.
    const DialogUnits units(6, 13);
    EXPECT_EQ(units.Rect(8, 10, 256, 33), QRect(12, 16, 384, 54));
    EXPECT_EQ(units.Rect(35, 177, 229, 44), QRect(53, 288, 344, 72)); // 52.5 -> 53, 287.6 -> 288
    EXPECT_EQ(units.X(269), 404);                                     // 403.5 rounds up
    EXPECT_EQ(units.Y(249), 405);                                     // 404.6
    EXPECT_EQ(units.X(0), 0);
    EXPECT_EQ(units.X(-3), -5); // halves away from zero, as MulDiv rounds
}

TEST(DialogUnits, BaseUnitsFollowTheFont) {
    QFont small = QApplication::font();
    small.setPixelSize(10);
    QFont large = small;
    large.setPixelSize(20);
    const DialogUnits a = DialogUnits::ForFont(small);
    const DialogUnits b = DialogUnits::ForFont(large);
    EXPECT_GT(a.BaseX(), 0);
    EXPECT_GT(b.BaseX(), a.BaseX());
    EXPECT_GT(b.BaseY(), a.BaseY());
    // Proportions are kept: the dialog grows with its font.
    EXPECT_GT(b.X(269), a.X(269));
}
