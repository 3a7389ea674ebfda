// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ButtonST.h"

#include "support/TestSupport.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace fb;

namespace {

::testing::Environment* const kQtApp =
    ::testing::AddGlobalTestEnvironment(new fb::testing_support::QtApp);

bool SendToolTipEvent(CButtonST& button, QPoint local) {
    QHelpEvent help(QEvent::ToolTip, local, button.mapToGlobal(local));
    QApplication::sendEvent(&button, &help);
    return button.TipWindow() != nullptr && button.TipWindow()->isVisible();
}

class ButtonTest : public ::testing::Test {
protected:
    ButtonTest() {
        window.resize(300, 200);
        run.setParent(&window);
        run.setGeometry(10, 10, 80, 24);
        window.show();
    }
    ~ButtonTest() override { window.hide(); }

    QWidget window;
    CButtonST run{QStringLiteral("Run")};
};

TEST_F(ButtonTest, TipTextsAreShownWhileTheMouseRests) {
    run.SetTooltip("Run P2P Application", true);
    EXPECT_EQ(run.ToolCount(), 1);
    EXPECT_EQ(run.TipText(), QStringLiteral("Run P2P Application"));
    EXPECT_TRUE(run.TipActive());
    ASSERT_TRUE(SendToolTipEvent(run, {5, 5}));
    EXPECT_EQ(run.TipWindow()->text(), QStringLiteral("Run P2P Application"));

    // Leaving the button takes the tip away.
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&run, &leave);
    EXPECT_FALSE(run.TipWindow()->isVisible());
}

TEST_F(ButtonTest, TextIsPlainUtf8) {
    run.SetTooltip("<b>Caf\xC3\xA9</b>", true);
    EXPECT_EQ(run.TipText(), QStringLiteral("<b>Caf\u00E9</b>"));
    ASSERT_TRUE(SendToolTipEvent(run, {5, 5}));
    EXPECT_EQ(run.TipWindow()->textFormat(), Qt::PlainText);
}

TEST_F(ButtonTest, NullTextCreatesAndChangesNothing) {
    run.SetTooltip(nullptr, true);
    EXPECT_EQ(run.ToolCount(), 0);
    EXPECT_FALSE(run.HasTipWindow());
    EXPECT_FALSE(run.TipActive());

    run.SetTooltip("Exit", true);
    run.SetTooltip(nullptr, false);
    EXPECT_EQ(run.TipText(), QStringLiteral("Exit"));
    EXPECT_TRUE(run.TipActive());
}

TEST_F(ButtonTest, SecondCallReplacesTheTextOfTheOneTool) {
    run.SetTooltip("First", true);
    const QRect firstRect = run.ToolRect();
    EXPECT_EQ(firstRect, QRect(0, 0, 80, 24));
    run.resize(200, 40);
    run.SetTooltip("Second", true);
    EXPECT_EQ(run.ToolCount(), 1);
    EXPECT_EQ(run.TipText(), QStringLiteral("Second"));
    // The tool keeps the rectangle of the first call: the grown part shows no tip.
    EXPECT_EQ(run.ToolRect(), firstRect);
    EXPECT_TRUE(SendToolTipEvent(run, {70, 20}));
    EXPECT_FALSE(SendToolTipEvent(run, {150, 30}));
}

TEST_F(ButtonTest, DeactivatedTipIsNotShown) {
    run.SetTooltip("Accelerate P2P Application", false);
    EXPECT_FALSE(run.TipActive());
    EXPECT_FALSE(SendToolTipEvent(run, {5, 5}));
    run.SetTooltip("Accelerate P2P Application", true);
    EXPECT_TRUE(SendToolTipEvent(run, {5, 5}));
    run.SetTooltip("Accelerate P2P Application", false);
    EXPECT_FALSE(run.TipWindow()->isVisible());
}

TEST_F(ButtonTest, ButtonWithoutTextShowsNoTipButHasItsTipWindowAfterInput) {
    CButtonST ok(QStringLiteral("&OK"), &window);
    ok.setGeometry(100, 100, 60, 24);
    ok.show();
    EXPECT_FALSE(ok.HasTipWindow());
    QTest::mouseClick(&ok, Qt::LeftButton, {}, {5, 5});
    EXPECT_TRUE(ok.HasTipWindow());
    EXPECT_EQ(ok.ToolCount(), 0);
    EXPECT_FALSE(SendToolTipEvent(ok, {5, 5}));

    ok.EnsureTooltip(); // a second time changes nothing
    EXPECT_EQ(ok.ToolCount(), 0);
    EXPECT_FALSE(ok.TipActive());
}

TEST_F(ButtonTest, LongTipWrapsAt400Pixels) {
    const char* longText =
        "This tip is much longer than four hundred pixels on any usual screen font, so it has to "
        "wrap onto several lines instead of running across the whole screen as one line.";
    run.SetTooltip(longText, true);
    ASSERT_TRUE(SendToolTipEvent(run, {5, 5}));
    QLabel* tip = run.TipWindow();
    const int frame = 2 * (tip->margin() + tip->indent()) + 2 * tip->frameWidth();
    EXPECT_LE(tip->width(), CButtonST::kMaxTipWidth + frame);
    EXPECT_TRUE(tip->wordWrap());
    const QFontMetrics metrics(tip->font());
    ASSERT_GT(metrics.horizontalAdvance(QString::fromUtf8(longText)), CButtonST::kMaxTipWidth);
    EXPECT_GE(tip->height(), 2 * metrics.lineSpacing());

    // A short tip stays on one line and only as wide as its text.
    run.SetTooltip("Exit", true);
    EXPECT_FALSE(tip->wordWrap());
    EXPECT_LT(tip->width(), 200);
    EXPECT_LT(tip->height(), 2 * metrics.lineSpacing());
}

// The sequence a double-click delivers: press, release, double-click, release.
void DoubleClickEvents(QPushButton& button, QPoint at) {
    QTest::mousePress(&button, Qt::LeftButton, {}, at);
    QTest::mouseRelease(&button, Qt::LeftButton, {}, at);
    QMouseEvent doubleClick(QEvent::MouseButtonDblClick, QPointF(at),
                            button.mapToGlobal(QPointF(at)), Qt::LeftButton, Qt::LeftButton,
                            Qt::NoModifier);
    QApplication::sendEvent(&button, &doubleClick);
    QTest::mouseRelease(&button, Qt::LeftButton, {}, at);
}

TEST_F(ButtonTest, DoubleClickOnACheckableButtonTogglesTwice) {
    run.setCheckable(true);
    int toggles = 0;
    QObject::connect(&run, &QPushButton::toggled, &run, [&toggles] { ++toggles; });

    const QPoint at(5, 5);
    DoubleClickEvents(run, at);
    EXPECT_EQ(toggles, 2);
    EXPECT_FALSE(run.isChecked());

    // The same through QTest: a click, then the double-click event and its release.
    toggles = 0;
    QTest::mouseClick(&run, Qt::LeftButton, {}, at);
    QTest::mouseDClick(&run, Qt::LeftButton, {}, at);
    QTest::mouseRelease(&run, Qt::LeftButton, {}, at);
    EXPECT_EQ(toggles, 2);
    EXPECT_FALSE(run.isChecked());
}

TEST_F(ButtonTest, DoubleClickOnAPushButtonClicksTwice) {
    int clicks = 0;
    QObject::connect(&run, &QPushButton::clicked, &run, [&clicks] { ++clicks; });
    const QPoint at(5, 5);
    DoubleClickEvents(run, at);
    EXPECT_EQ(clicks, 2);
}

TEST_F(ButtonTest, PressingHidesTheTip) {
    run.SetTooltip("Exit", true);
    ASSERT_TRUE(SendToolTipEvent(run, {5, 5}));
    QTest::mousePress(&run, Qt::LeftButton, {}, {5, 5});
    EXPECT_FALSE(run.TipWindow()->isVisible());
    QTest::mouseRelease(&run, Qt::LeftButton, {}, {5, 5});
}

} // namespace
