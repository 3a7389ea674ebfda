// SPDX-License-Identifier: GPL-3.0-or-later
// The graph widget: creation, its timer, and what it paints. Runs without a display.
#include "net/HistogramCtrl.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>

namespace {

class QtApplication : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "test_histogram_ctrl";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QApplication> m_app;
};

[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtApplication);

// The real control: the placeholder's 387 x 82 pixels give a 383 x 78 client area.
const QRect kRect(10, 20, 387, 82);

// Runs the event loop until done() or the deadline; returns done().
bool RunEventsUntil(const std::function<bool()>& done, int deadlineMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < deadlineMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

TEST(HistogramCtrl, CreateMakesAChildWithAnImageOfTheClientArea) {
    QWidget parent;
    CHistogramCtrl graph;
    EXPECT_TRUE(graph.Image().isNull());
    ASSERT_TRUE(graph.Create(kRect, &parent, 1000));
    EXPECT_EQ(graph.parentWidget(), &parent);
    EXPECT_EQ(graph.geometry(), kRect);
    EXPECT_EQ(graph.ControlId(), 1000);
    EXPECT_EQ(graph.Image().size(), QSize(383, 78));
    EXPECT_EQ(graph.Image().format(), QImage::Format_RGB32);
    EXPECT_EQ(graph.UpdatePeriod(), 500);
    EXPECT_TRUE(graph.IsRunning());
    EXPECT_FALSE(graph.Create(kRect, &parent, 1000));
}

TEST(HistogramCtrl, CreateWithoutClientAreaLeavesAnInertControl) {
    QWidget parent;
    CHistogramCtrl graph;
    EXPECT_FALSE(graph.Create(QRect(0, 0, 4, 40), &parent, 1000));
    EXPECT_TRUE(graph.Image().isNull());
    EXPECT_FALSE(graph.IsRunning());
    graph.AddValues(1, 1);
    graph.Tick();
    EXPECT_EQ(graph.Core().HistoryCount(), 0);
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
    const QImage frozen = graph.Image().copy();
    graph.AddValues(2, 9);
    graph.AddValues(4, 9);
    graph.AddValues(7, 9);
    RunEventsUntil([] { return false; }, 300);
    EXPECT_EQ(graph.Core().HistoryCount(), 0);
    EXPECT_EQ(graph.Image(), frozen);

    graph.SetSpeed(10);
    ASSERT_TRUE(RunEventsUntil([&] { return graph.Core().HistoryCount() >= 1; }, 10000));
    EXPECT_EQ(graph.Core().History1().front(), 4U);
    EXPECT_NE(graph.Image(), frozen);
}

TEST(HistogramCtrl, PaintCopiesTheImageInsideATwoPixelEdge) {
    QWidget parent;
    CHistogramCtrl graph;
    ASSERT_TRUE(graph.Create(kRect, &parent, 1000));
    graph.SetSpeed(0);
    graph.AddValues(60, 30);
    graph.Tick();
    const QImage shot = graph.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shot.size(), kRect.size());
    EXPECT_EQ(shot.copy(2, 2, 383, 78), graph.Image());
    // The edge is not the picture: its corner is not the picture's background.
    EXPECT_NE(shot.pixel(0, 0), fb::HistogramCore::kBackgroundColour);
}

TEST(HistogramCtrl, BothDrawingsGiveTheSamePicture) {
    QWidget parent;
    CHistogramCtrl replay(fb::HistogramDrawing::Replay);
    CHistogramCtrl direct(fb::HistogramDrawing::Direct);
    ASSERT_TRUE(replay.Create(kRect, &parent, 1000));
    ASSERT_TRUE(direct.Create(kRect, &parent, 1001));
    replay.SetSpeed(0);
    direct.SetSpeed(0);
    for (std::uint32_t i = 0; i < 150; ++i) {
        if (i == 60) {
            replay.SetRange(1, 250);
            direct.SetRange(1, 250);
        }
        replay.AddValues(i * 7 % 130, i * 13 % 90);
        direct.AddValues(i * 7 % 130, i * 13 % 90);
        replay.Tick();
        direct.Tick();
        ASSERT_EQ(replay.Image(), direct.Image()) << i;
    }
}

} // namespace
