// SPDX-License-Identifier: GPL-3.0-or-later
// The graph shown by the X server itself: on a virtual X display of the test's own, what the
// screen shows inside the graph's edge is, pixel for pixel, the reference drawing of the same
// values, through scrolls, range changes and the window being hidden and shown again.
#include "net/HistogramCore.h"
#include "platform/linux/display/X11GraphSurface.h"
#include "ui/HistogramCtrl.h"

#include "support/TestSupport.h"

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QString>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <utility>
#include <vector>

using namespace fb;

namespace {

// ---- The display ------------------------------------------------------------------------------

// An X server on a display of its own, ended with the object.
class Xvfb {
public:
    // Starts Xvfb on the first free display from :180 up; the reason when none comes up.
    std::optional<std::string> Start() {
        for (int number = 180; number < 260; ++number) {
            if (Taken(number)) {
                continue;
            }
            const std::string display = ":" + std::to_string(number);
            if (!Spawn(display)) {
                return "Xvfb cannot be started (is the package xvfb installed?)";
            }
            if (WaitReady(display)) {
                m_display = display;
                return std::nullopt;
            }
            Stop(); // the number was taken meanwhile, or the server failed: the next one
        }
        return "no free display for Xvfb from :180 up";
    }
    ~Xvfb() { Stop(); }
    const std::string& Display() const { return m_display; }

private:
    static bool Taken(int number) {
        const std::string n = std::to_string(number);
        return std::filesystem::exists("/tmp/.X11-unix/X" + n) ||
               std::filesystem::exists("/tmp/.X" + n + "-lock");
    }
    bool Spawn(const std::string& display) {
        std::vector<std::string> arguments{"Xvfb",       display,     "-screen", "0",
                                           "640x480x24", "-nolisten", "tcp"};
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int error = posix_spawnp(&m_pid, "Xvfb", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0) {
            m_pid = 0;
        }
        return error == 0;
    }
    bool WaitReady(const std::string& display) const {
        for (int attempt = 0; attempt < 200; ++attempt) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                return false;
            }
            xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
            const bool up = xcb_connection_has_error(connection) == 0;
            xcb_disconnect(connection);
            if (up) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    void Stop() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
        m_pid = 0;
    }

    pid_t m_pid = 0;
    std::string m_display;
};

// The display and the QApplication on it (platform xcb) for the whole program.
class XDisplayApp : public ::testing::Environment {
public:
    void SetUp() override {
        m_xvfb = std::make_unique<Xvfb>();
        if (const std::optional<std::string> failure = m_xvfb->Start()) {
            s_skipReason = *failure;
            return;
        }
        m_app = std::make_unique<testing_support::QtApp>(testing_support::QtApp::Variables{
            {"DISPLAY", m_xvfb->Display()}, {"QT_QPA_PLATFORM", "xcb"}});
        m_app->SetUp();
    }
    void TearDown() override {
        if (m_app) {
            m_app->TearDown();
        }
        m_app.reset();
        m_xvfb.reset();
    }
    static inline std::string s_skipReason;

private:
    std::unique_ptr<Xvfb> m_xvfb;
    std::unique_ptr<testing_support::QtApp> m_app;
};

::testing::Environment* const kDisplay = ::testing::AddGlobalTestEnvironment(new XDisplayApp);

#define SKIP_WITHOUT_DISPLAY()                                                                     \
    if (!XDisplayApp::s_skipReason.empty()) {                                                      \
        GTEST_SKIP() << XDisplayApp::s_skipReason;                                                 \
    }

// ---- What the screen shows --------------------------------------------------------------------

xcb_connection_t* Connection() {
    return qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

template <typename Reply> std::unique_ptr<Reply, decltype(&std::free)> Owned(Reply* reply) {
    return {reply, &std::free};
}

// The pixels the screen shows in the window's rectangle (window coordinates), children included;
// a null image when they cannot be read. Read on the program's own connection, after every
// request it made.
QImage ScreenPixels(xcb_window_t window, const QRect& rect) {
    xcb_connection_t* const c = Connection();
    const auto reply = Owned(xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, static_cast<std::int16_t>(rect.x()),
                      static_cast<std::int16_t>(rect.y()), static_cast<std::uint16_t>(rect.width()),
                      static_cast<std::uint16_t>(rect.height()), ~0U),
        nullptr));
    const auto bytes = static_cast<std::size_t>(rect.width()) * rect.height() * 4;
    if (!reply || xcb_get_image_data_length(reply.get()) != static_cast<int>(bytes)) {
        return {};
    }
    QImage image(rect.size(), QImage::Format_RGB32);
    const std::uint8_t* data = xcb_get_image_data(reply.get());
    for (int y = 0; y < rect.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        std::memcpy(line, data + static_cast<std::size_t>(y) * rect.width() * 4,
                    static_cast<std::size_t>(rect.width()) * 4);
        for (int x = 0; x < rect.width(); ++x) {
            line[x] |= 0xFF000000U; // the unused byte of a 24-bit pixel
        }
    }
    return image;
}

// Whether a window of its own, mapped, lies exactly over rect of the parent.
bool HasChildWindowAt(xcb_window_t parent, const QRect& rect) {
    xcb_connection_t* const c = Connection();
    const auto tree = Owned(xcb_query_tree_reply(c, xcb_query_tree(c, parent), nullptr));
    if (!tree) {
        return false;
    }
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        const auto geometry =
            Owned(xcb_get_geometry_reply(c, xcb_get_geometry(c, children[i]), nullptr));
        const auto attributes = Owned(
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, children[i]), nullptr));
        if (geometry && attributes && attributes->map_state != XCB_MAP_STATE_UNMAPPED &&
            QRect(geometry->x, geometry->y, geometry->width, geometry->height) == rect) {
            return true;
        }
    }
    return false;
}

std::string Hex(QRgb pixel) {
    return QString::number(pixel, 16).toStdString();
}

::testing::AssertionResult SamePixels(const QImage& shown, const QImage& expected) {
    if (shown.size() != expected.size()) {
        return ::testing::AssertionFailure()
               << "the screen shows " << shown.width() << " x " << shown.height() << " pixels";
    }
    int different = 0;
    QPoint first;
    for (int y = 0; y < expected.height(); ++y) {
        for (int x = 0; x < expected.width(); ++x) {
            if (shown.pixel(x, y) != expected.pixel(x, y) && different++ == 0) {
                first = QPoint(x, y);
            }
        }
    }
    if (different == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << different << " pixels differ, the first at (" << first.x() << ", " << first.y()
           << "): " << Hex(shown.pixel(first)) << " instead of " << Hex(expected.pixel(first));
}

// ---- The graph and its reference --------------------------------------------------------------

// The real control: 387 x 82 pixels give a 383 x 78 client area inside the 2-pixel edge.
const QRect kRect(10, 20, 387, 82);
const QRect kClient(12, 22, 383, 78);

// The graph on the real surfaces in a window of its own, and the reference drawing fed alike.
class GraphOnScreen {
public:
    GraphOnScreen()
        : m_reference(HistogramDrawing::Replay) {
        m_window.resize(420, 130);
        m_graph.Create(kRect, &m_window, 1000, &m_surfaces);
        m_graph.SetSpeed(0); // ticked by the test
        m_reference.BuildImage(kClient.width(), kClient.height());
        SetRange(1, 10);
        m_window.show();
    }
    bool Exposed() { return QTest::qWaitForWindowExposed(&m_window); }

    void SetRange(int lower, int upper) {
        m_graph.SetRange(lower, upper);
        m_reference.SetRange(lower, upper);
    }
    // Ticks `count` times with the next values: a ragged wave, spikes far above the range, ticks
    // with a zero (the line goes on at its last height) and ticks averaging two values.
    void Ticks(int count) {
        for (int i = 0; i < count; ++i, ++m_tick) {
            const auto a = static_cast<std::uint32_t>((m_tick * 7) % 11);
            const auto b = static_cast<std::uint32_t>((m_tick * 5 + 3) % 9);
            if (m_tick % 17 == 5) {
                Add(a + 40, b + 1);
            } else if (m_tick % 23 == 11) {
                Add(a, 0);
            } else {
                Add(a + 1, b + 1);
            }
            if (m_tick % 3 == 0) {
                Add(b, a);
            }
            m_graph.Tick();
            m_reference.Tick();
        }
    }
    ::testing::AssertionResult ShowsTheReference() {
        return SamePixels(ScreenPixels(WindowId(), kClient), m_reference.Image());
    }
    bool HasChildWindow() { return HasChildWindowAt(WindowId(), kClient); }

    QWidget& Window() { return m_window; }
    CHistogramCtrl& Graph() { return m_graph; }

private:
    void Add(std::uint32_t first, std::uint32_t second) {
        m_graph.AddValues(first, second);
        m_reference.AddValues(first, second);
    }
    xcb_window_t WindowId() const { return static_cast<xcb_window_t>(m_window.winId()); }

    linux_impl::X11GraphSurfaceFactory m_surfaces;
    QWidget m_window;
    CHistogramCtrl m_graph;
    HistogramCore m_reference;
    int m_tick = 0;
};

TEST(GraphSurface, TheScreenShowsTheReferencePictureThroughScrollsAndRangeChanges) {
    SKIP_WITHOUT_DISPLAY();
    GraphOnScreen screen;
    ASSERT_TRUE(screen.Exposed());
    // The picture is a window of its own, not the toolkit's painting.
    EXPECT_TRUE(screen.HasChildWindow());
    EXPECT_TRUE(screen.ShowsTheReference()) << "the first image";
    screen.Ticks(1);
    EXPECT_TRUE(screen.ShowsTheReference()) << "after 1 tick";
    screen.Ticks(40);
    EXPECT_TRUE(screen.ShowsTheReference()) << "after 41 ticks";
    screen.SetRange(1, 30);
    screen.Ticks(1);
    EXPECT_TRUE(screen.ShowsTheReference()) << "after a new range";
    screen.Ticks(80);
    EXPECT_TRUE(screen.ShowsTheReference()) << "with a full history";
    screen.SetRange(1, 7);
    screen.Ticks(30);
    EXPECT_TRUE(screen.ShowsTheReference()) << "after another range";
}

TEST(GraphSurface, AWindowShownAgainShowsTheGraphAsItWent) {
    SKIP_WITHOUT_DISPLAY();
    GraphOnScreen screen;
    ASSERT_TRUE(screen.Exposed());
    screen.Ticks(60);
    screen.Window().hide();
    QCoreApplication::processEvents();
    screen.Ticks(5); // drawn while nothing shows
    screen.Window().show();
    ASSERT_TRUE(screen.Exposed());
    EXPECT_TRUE(screen.ShowsTheReference()) << "the window shown again";
    screen.Ticks(3);
    EXPECT_TRUE(screen.ShowsTheReference()) << "and ticking on";

    // The graph hidden alone takes its picture away; shown again, it brings the current one.
    screen.Graph().hide();
    EXPECT_FALSE(screen.HasChildWindow());
    screen.Ticks(4);
    screen.Graph().show();
    EXPECT_TRUE(screen.HasChildWindow());
    EXPECT_TRUE(screen.ShowsTheReference()) << "the graph shown again";
    screen.Ticks(2);
    EXPECT_TRUE(screen.ShowsTheReference()) << "and ticking on";
}

} // namespace
