// SPDX-License-Identifier: GPL-3.0-or-later
// A peer of the whole-program figures (scripts/measure.py): what the main window shows while it
// accelerates, drawn with nothing but the X protocol (libxcb), as a lower bound for any toolkit.
//
// A fixed-size window holds a graph that moves 3 pixels left every 100 ms. The graph lives in a
// server-side pixmap: a tick copies the pixmap onto itself 3 pixels to the left (CopyArea), sends
// only the new 3-pixel strip (PutImage) and copies the graph into the window (CopyArea). Four
// lines of text are drawn twice a second with the core font "fixed" (ImageText8). Esc unmaps the
// window: the graph and the texts stop, and only the half-second sample tick keeps running, as a
// sampler would. There is no tray icon, no settings and no network: the values are made up.
//
//   fb_minimal_xcb_monitor [--size WIDTHxHEIGHT] [--graph WIDTHxHEIGHT]   (400x300, 340x44)

#include <xcb/xcb.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kStep = 3;
constexpr milliseconds kGraphPeriod{100};
constexpr milliseconds kSamplePeriod{500};
constexpr xcb_keysym_t kEscapeKeysym = 0xff1b;
constexpr int kMargin = 8;
constexpr int kLineHeight = 16;

struct Size {
    uint16_t width;
    uint16_t height;
};

// "WIDTHxHEIGHT", each from 1 to 10000; anything else keeps `fallback`.
Size ParseSize(std::string_view text, Size fallback) {
    const auto cross = text.find('x');
    if (cross == std::string_view::npos)
        return fallback;
    unsigned width = 0;
    unsigned height = 0;
    const char* end = text.data() + text.size();
    const auto w = std::from_chars(text.data(), text.data() + cross, width);
    const auto h = std::from_chars(text.data() + cross + 1, end, height);
    if (w.ec != std::errc() || w.ptr != text.data() + cross || h.ec != std::errc() ||
        h.ptr != end || width < 1 || height < 1 || width > 10000 || height > 10000)
        return fallback;
    return {static_cast<uint16_t>(width), static_cast<uint16_t>(height)};
}

Size SizeOption(int argc, char** argv, std::string_view option, Size fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (option == argv[i])
            return ParseSize(argv[i + 1], fallback);
    }
    return fallback;
}

// The graph fits the window with a margin on each side, and is at least 8 x 8.
Size GraphSize(Size graph, Size window) {
    const auto fit = [](int wanted, int room) {
        return static_cast<uint16_t>(std::max(8, std::min(wanted, room - 2 * kMargin)));
    };
    return {fit(graph.width, window.width), fit(graph.height, window.height)};
}

class XcbMonitor {
public:
    XcbMonitor(xcb_connection_t* connection, xcb_screen_t* screen, Size size, Size graph)
        : m_connection(connection)
        , m_screen(screen)
        , m_size(size)
        , m_graph(GraphSize(graph, size)) {}

    bool Start() {
        if (!PixelFormatIs32Bits())
            return Fail("the screen's depth has no 32-bit pixel format");
        m_escape = EscapeKeycode();
        CreateWindow();
        CreateGraph();
        SetProperties();
        xcb_map_window(m_connection, m_window);
        xcb_flush(m_connection);
        return true;
    }

    int Run() {
        auto nextSample = Clock::now() + kSamplePeriod;
        auto nextGraph = Clock::now() + kGraphPeriod;
        while (!xcb_connection_has_error(m_connection)) {
            const auto now = Clock::now();
            if (now >= nextSample) {
                OnSample();
                nextSample += kSamplePeriod;
            }
            if (now >= nextGraph) {
                if (m_shown)
                    OnGraphTick();
                nextGraph += kGraphPeriod;
            }
            xcb_flush(m_connection);
            const auto due = m_shown ? std::min(nextSample, nextGraph) : nextSample;
            const auto wait = std::chrono::duration_cast<milliseconds>(due - Clock::now());
            pollfd fd{xcb_get_file_descriptor(m_connection), POLLIN, 0};
            poll(&fd, 1, static_cast<int>(std::max<long long>(0, wait.count() + 1)));
            while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
                OnEvent(event);
                std::free(event);
            }
            if (!m_shown)
                nextGraph = std::max(nextGraph, Clock::now());
        }
        return 0;
    }

private:
    static bool Fail(const char* what) {
        std::fprintf(stderr, "fb_minimal_xcb_monitor: %s\n", what);
        return false;
    }

    bool PixelFormatIs32Bits() {
        const xcb_setup_t* setup = xcb_get_setup(m_connection);
        m_serverLsbFirst = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
        for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it)) {
            if (it.data->depth == m_screen->root_depth)
                return it.data->bits_per_pixel == 32;
        }
        return false;
    }

    xcb_keycode_t EscapeKeycode() {
        const xcb_setup_t* setup = xcb_get_setup(m_connection);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        auto* reply = xcb_get_keyboard_mapping_reply(
            m_connection,
            xcb_get_keyboard_mapping(m_connection, setup->min_keycode, static_cast<uint8_t>(count)),
            nullptr);
        xcb_keycode_t found = 0;
        if (reply != nullptr) {
            const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
            const int perCode = reply->keysyms_per_keycode;
            for (int i = 0; i < count * perCode && found == 0; ++i) {
                if (syms[i] == kEscapeKeysym)
                    found = static_cast<xcb_keycode_t>(setup->min_keycode + i / perCode);
            }
            std::free(reply);
        }
        return found;
    }

    void CreateWindow() {
        m_window = xcb_generate_id(m_connection);
        const uint32_t values[] = {0xd4d0c8, XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_KEY_PRESS |
                                                 XCB_EVENT_MASK_STRUCTURE_NOTIFY};
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, m_screen->root, 0, 0,
                          m_size.width, m_size.height, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          m_screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
        m_textGc = xcb_generate_id(m_connection);
        const xcb_font_t font = xcb_generate_id(m_connection);
        xcb_open_font(m_connection, font, 5, "fixed");
        const uint32_t textValues[] = {0x000000, 0xd4d0c8, font, 0};
        xcb_create_gc(m_connection, m_textGc, m_window,
                      XCB_GC_FOREGROUND | XCB_GC_BACKGROUND | XCB_GC_FONT |
                          XCB_GC_GRAPHICS_EXPOSURES,
                      textValues);
        xcb_close_font(m_connection, font);
    }

    void CreateGraph() {
        m_pixmap = xcb_generate_id(m_connection);
        xcb_create_pixmap(m_connection, m_screen->root_depth, m_pixmap, m_window, m_graph.width,
                          m_graph.height);
        m_graphGc = xcb_generate_id(m_connection);
        const uint32_t values[] = {0x000000, 0};
        xcb_create_gc(m_connection, m_graphGc, m_pixmap,
                      XCB_GC_FOREGROUND | XCB_GC_GRAPHICS_EXPOSURES, values);
        const xcb_rectangle_t all{0, 0, m_graph.width, m_graph.height};
        xcb_poly_fill_rectangle(m_connection, m_pixmap, m_graphGc, 1, &all);
        m_strip.assign(static_cast<size_t>(kStep) * m_graph.height, 0);
    }

    xcb_atom_t Atom(const char* name) {
        auto* reply = xcb_intern_atom_reply(
            m_connection,
            xcb_intern_atom(m_connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
            nullptr);
        const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return atom;
    }

    void SetProperties() {
        static constexpr char kTitle[] = "Minimal XCB monitor";
        static constexpr char kClass[] = "fb_minimal_xcb_monitor\0Fb_minimal_xcb_monitor";
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_window, XCB_ATOM_WM_NAME,
                            XCB_ATOM_STRING, 8, sizeof(kTitle) - 1, kTitle);
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_window, XCB_ATOM_WM_CLASS,
                            XCB_ATOM_STRING, 8, sizeof(kClass), kClass);
        const auto pid = static_cast<uint32_t>(getpid());
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_window, Atom("_NET_WM_PID"),
                            XCB_ATOM_CARDINAL, 32, 1, &pid);
        // WM_NORMAL_HINTS: a minimum and a maximum size, both the window's own.
        std::array<uint32_t, 18> hints{};
        hints[0] = (1u << 4) | (1u << 5);
        hints[5] = hints[7] = m_size.width;
        hints[6] = hints[8] = m_size.height;
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_window, XCB_ATOM_WM_NORMAL_HINTS,
                            XCB_ATOM_WM_SIZE_HINTS, 32, static_cast<uint32_t>(hints.size()),
                            hints.data());
    }

    uint32_t Pixel(uint32_t rgb) const {
        if (m_serverLsbFirst == (std::endian::native == std::endian::little))
            return rgb;
        return __builtin_bswap32(rgb);
    }

    void OnGraphTick() {
        const int width = m_graph.width;
        const int height = m_graph.height;
        xcb_copy_area(m_connection, m_pixmap, m_pixmap, m_graphGc, kStep, 0, 0, 0,
                      static_cast<uint16_t>(width - kStep), m_graph.height);
        const int received = height - 1 - static_cast<int>(m_received / 100) % height;
        const int sent = height - 1 - static_cast<int>(m_sent / 100) % height;
        for (int y = 0; y < height; ++y) {
            const uint32_t colour = y == received ? 0x00ff00 : y == sent ? 0xff0000 : 0x000000;
            std::fill_n(m_strip.begin() + y * kStep, kStep, Pixel(colour));
        }
        xcb_put_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, m_pixmap, m_graphGc, kStep,
                      m_graph.height, static_cast<int16_t>(width - kStep), 0, 0,
                      m_screen->root_depth, static_cast<uint32_t>(m_strip.size() * 4),
                      reinterpret_cast<const uint8_t*>(m_strip.data()));
        CopyGraph();
    }

    void CopyGraph() {
        xcb_copy_area(m_connection, m_pixmap, m_window, m_graphGc, 0, 0, kMargin, kMargin,
                      m_graph.width, m_graph.height);
    }

    // A made-up sample; shown, the texts follow it.
    void OnSample() {
        ++m_samples;
        m_received = (m_received * 1103515245u + 12345u) & 0x3fffu;
        m_sent = (m_sent * 69069u + 1u) & 0x3fffu;
        if (m_shown)
            DrawTexts();
    }

    void DrawTexts() {
        const unsigned seconds = m_samples / 2;
        std::array<char, 64> lines[4];
        std::snprintf(lines[0].data(), lines[0].size(), "Received: %u.%u KB/s      ",
                      m_received / 10, m_received % 10);
        std::snprintf(lines[1].data(), lines[1].size(), "Sent: %u.%u KB/s      ", m_sent / 10,
                      m_sent % 10);
        std::snprintf(lines[2].data(), lines[2].size(), "Duration: %u:%02u      ", seconds / 60,
                      seconds % 60);
        std::snprintf(lines[3].data(), lines[3].size(), "Samples: %u      ", m_samples);
        int baseline = 2 * kMargin + m_graph.height + kLineHeight;
        for (const auto& line : lines) {
            const auto length = static_cast<uint8_t>(std::strlen(line.data()));
            xcb_image_text_8(m_connection, length, m_window, m_textGc, kMargin,
                             static_cast<int16_t>(baseline), line.data());
            baseline += kLineHeight + 4;
        }
    }

    void OnEvent(const xcb_generic_event_t* event) {
        switch (event->response_type & 0x7f) {
        case XCB_EXPOSE:
            if (reinterpret_cast<const xcb_expose_event_t*>(event)->count == 0) {
                CopyGraph();
                DrawTexts();
            }
            break;
        case XCB_KEY_PRESS:
            if (m_escape != 0 &&
                reinterpret_cast<const xcb_key_press_event_t*>(event)->detail == m_escape)
                xcb_unmap_window(m_connection, m_window);
            break;
        case XCB_MAP_NOTIFY:
            m_shown = true;
            break;
        case XCB_UNMAP_NOTIFY:
            m_shown = false;
            break;
        default:
            break;
        }
    }

    xcb_connection_t* m_connection;
    xcb_screen_t* m_screen;
    Size m_size;
    Size m_graph;
    xcb_window_t m_window = 0;
    xcb_pixmap_t m_pixmap = 0;
    xcb_gcontext_t m_graphGc = 0;
    xcb_gcontext_t m_textGc = 0;
    xcb_keycode_t m_escape = 0;
    bool m_serverLsbFirst = true;
    bool m_shown = false;
    std::vector<uint32_t> m_strip;
    unsigned m_samples = 0;
    unsigned m_received = 1;
    unsigned m_sent = 1;
};

} // namespace

xcb_screen_t* ScreenNumbered(xcb_connection_t* connection, int number) {
    auto it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (; it.rem && number > 0; --number)
        xcb_screen_next(&it);
    return it.rem ? it.data : nullptr;
}

int main(int argc, char* argv[]) {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    xcb_screen_t* screen =
        xcb_connection_has_error(connection) ? nullptr : ScreenNumbered(connection, screenNumber);
    if (screen == nullptr) {
        std::fprintf(stderr, "fb_minimal_xcb_monitor: cannot open the display\n");
        xcb_disconnect(connection);
        return 1;
    }
    const Size size = SizeOption(argc, argv, "--size", {400, 300});
    const Size graph = SizeOption(argc, argv, "--graph", {340, 44});
    XcbMonitor monitor(connection, screen, size, graph);
    const int status = monitor.Start() ? monitor.Run() : 1;
    xcb_disconnect(connection);
    return status;
}
