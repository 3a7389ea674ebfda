// SPDX-License-Identifier: GPL-3.0-or-later
// The graph widget: creation, its timer, and what it paints. Runs without a display.
#include "ui/HistogramCtrl.h"

#include "support/TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>

using namespace fb;

namespace {

::testing::Environment* const kQtApp =
    ::testing::AddGlobalTestEnvironment(new fb::testing_support::QtApp);

// The real control: the placeholder's 387 x 82 pixels give a 383 x 78 client area.
const QRect kRect(10, 20, 387, 82);

// What the control shows inside its 2-pixel edge.
QImage Picture(CHistogramCtrl& graph) {
    return graph.grab().toImage().convertToFormat(QImage::Format_RGB32).copy(2, 2, 383, 78);
}

// Runs the event loop until done() or the deadline; returns done().
bool RunEventsUntil(const std::function<bool()>& done, int deadlineMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < deadlineMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

TEST(HistogramCtrl, CreateMakesAChildShowingTheGridAndStartsItsTimer) {
    QWidget parent;
    CHistogramCtrl graph;
    ASSERT_TRUE(graph.Create(kRect, &parent, 1000));
    EXPECT_EQ(graph.parentWidget(), &parent);
    EXPECT_EQ(graph.geometry(), kRect);
    const QImage picture = Picture(graph);
    EXPECT_EQ(picture.pixel(0, 0), fb::HistogramCore::kBackgroundColour);
    EXPECT_EQ(picture.pixel(12, 0), fb::HistogramCore::kGridColour);
    EXPECT_EQ(picture.pixel(0, 12), fb::HistogramCore::kGridColour);
    EXPECT_TRUE(graph.IsRunning());
    EXPECT_EQ(graph.SetSpeed(0), 500); // the first period
    EXPECT_FALSE(graph.Create(kRect, &parent, 1000));
}

TEST(HistogramCtrl, CreateWithoutClientAreaLeavesAnInertControl) {
    QWidget parent;
    CHistogramCtrl graph;
    EXPECT_FALSE(graph.Create(QRect(0, 0, 4, 40), &parent, 1000));
    EXPECT_FALSE(graph.IsRunning());
    graph.AddValues(1, 1);
    graph.Tick();
    const QImage shot = graph.grab().toImage(); // paints its edge only
    EXPECT_EQ(shot.size(), QSize(4, 40));
}

TEST(HistogramCtrl, SetSpeedReturnsThePreviousPeriod) {
    QWidget parent;
    CHistogramCtrl graph;
    EXPECT_EQ(graph.SetSpeed(0), 0); // before Create: no period yet
    ASSERT_TRUE(graph.Create(kRect, &parent, 1000));
    EXPECT_EQ(graph.SetSpeed(100), 500);
    EXPECT_TRUE(graph.IsRunning());
    EXPECT_EQ(graph.SetSpeed(0), 100);
    EXPECT_FALSE(graph.IsRunning());
    EXPECT_EQ(graph.SetSpeed(-5), 0);
    EXPECT_FALSE(graph.IsRunning()); // no period below 0
    EXPECT_EQ(graph.SetSpeed(100), -5);
    EXPECT_TRUE(graph.IsRunning());
}

TEST(HistogramCtrl, StoppedTimerFreezesThePictureAndRestartResumesIt) {
    QWidget parent;
    CHistogramCtrl graph;
    ASSERT_TRUE(graph.Create(kRect, &parent, 1000));
    graph.SetRange(1, 10);
    graph.SetSpeed(0);
    const QImage frozen = Picture(graph);
    graph.AddValues(2, 9);
    graph.AddValues(4, 9);
    graph.AddValues(7, 9);
    RunEventsUntil([] { return false; }, 300);
    EXPECT_EQ(Picture(graph), frozen);

    graph.SetSpeed(10);
    // The three values make one point: 13 / 3 = 4 on row 78 - 312 / 10 = 47.
    ASSERT_TRUE(RunEventsUntil(
        [&] { return Picture(graph).pixel(383 - 14, 47) == fb::HistogramCore::kSeries1Colour; },
        10000));
}

TEST(HistogramCtrl, PaintsThePictureInsideASunkenEdge) {
    QWidget parent;
    CHistogramCtrl replay(fb::HistogramDrawing::Replay);
    ASSERT_TRUE(replay.Create(kRect, &parent, 1000));
    replay.SetSpeed(0);
    replay.AddValues(60, 30);
    replay.Tick();
    const QImage shot = replay.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shot.size(), kRect.size());
    // The edge is not the picture: its corner is not the picture's background.
    EXPECT_NE(shot.pixel(0, 0), fb::HistogramCore::kBackgroundColour);
    EXPECT_EQ(shot.pixel(2 + 383 - 14, 2 + 78 - 60 * 78 / 100), fb::HistogramCore::kSeries1Colour);
}

} // namespace
