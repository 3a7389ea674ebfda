// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/display/X11GraphSurface.h"

#include <QGuiApplication>
#include <QImage>
#include <QPointer>
#include <QRect>
#include <QSysInfo>
#include <QWidget>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace fb::linux_impl {

namespace {

struct FreeDeleter {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename Reply> using ReplyPtr = std::unique_ptr<Reply, FreeDeleter>;

// The fixed part of a PutImage request, in bytes.
constexpr std::uint32_t kPutImageHeader = 24;
// The largest request this sends, in bytes: well within what a server with big requests takes.
constexpr std::uint64_t kMaxRequestBytes = std::uint64_t{1} << 24;
// X coordinates and sizes are 16-bit.
constexpr int kMaxSide = 32767;
constexpr int kPixelBytes = 4;

// The program's X connection, when Qt runs on X11.
xcb_connection_t* QtConnection() {
    if (qGuiApp == nullptr || QGuiApplication::platformName() != QLatin1String("xcb")) {
        return nullptr;
    }
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* const connection = x11 != nullptr ? x11->connection() : nullptr;
    return connection != nullptr && xcb_connection_has_error(connection) == 0 ? connection
                                                                              : nullptr;
}

// The longest request the server takes, in bytes (a round trip only on the connection's first
// asking, which Qt has done already).
std::uint32_t MaxRequestBytes(xcb_connection_t* connection) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(
        std::uint64_t{xcb_get_maximum_request_length(connection)} * 4U, kMaxRequestBytes));
}

const xcb_visualtype_t* FindVisual(const xcb_setup_t* setup, xcb_visualid_t id,
                                   std::uint8_t depth) {
    for (auto screens = xcb_setup_roots_iterator(setup); screens.rem > 0;
         xcb_screen_next(&screens)) {
        for (auto depths = xcb_screen_allowed_depths_iterator(screens.data); depths.rem > 0;
             xcb_depth_next(&depths)) {
            if (depths.data->depth != depth) {
                continue;
            }
            for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem > 0;
                 xcb_visualtype_next(&visuals)) {
                if (visuals.data->visual_id == id) {
                    return visuals.data;
                }
            }
        }
    }
    return nullptr;
}

const xcb_format_t* FindFormat(const xcb_setup_t* setup, std::uint8_t depth) {
    for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem > 0;
         xcb_format_next(&formats)) {
        if (formats.data->depth == depth) {
            return formats.data;
        }
    }
    return nullptr;
}

// Whether pixels of the depth and visual are Format_RGB32's as they lie in memory: 32 bits in
// this machine's byte order, red, green and blue in the bits 16, 8 and 0.
bool TakesRgb32(const xcb_setup_t* setup, std::uint8_t depth, xcb_visualid_t visualId) {
    const xcb_visualtype_t* visual = FindVisual(setup, visualId, depth);
    const xcb_format_t* format = FindFormat(setup, depth);
    const std::uint8_t hostOrder = QSysInfo::ByteOrder == QSysInfo::LittleEndian
                                       ? XCB_IMAGE_ORDER_LSB_FIRST
                                       : XCB_IMAGE_ORDER_MSB_FIRST;
    return (depth == 24 || depth == 32) && visual != nullptr &&
           visual->_class == XCB_VISUAL_CLASS_TRUE_COLOR && visual->red_mask == 0xFF0000U &&
           visual->green_mask == 0xFF00U && visual->blue_mask == 0xFFU && format != nullptr &&
           format->bits_per_pixel == 32 && format->scanline_pad <= 32 &&
           setup->image_byte_order == hostOrder;
}

// The depth of the window, when its pixels are Format_RGB32's (one round trip).
std::optional<std::uint8_t> Rgb32Depth(xcb_connection_t* connection, xcb_window_t window) {
    const auto geometryCookie = xcb_get_geometry(connection, window);
    const auto attributesCookie = xcb_get_window_attributes(connection, window);
    xcb_generic_error_t* geometryError = nullptr;
    xcb_generic_error_t* attributesError = nullptr;
    const ReplyPtr<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection, geometryCookie, &geometryError));
    const ReplyPtr<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(connection, attributesCookie, &attributesError));
    std::free(geometryError);
    std::free(attributesError);
    if (!geometry || !attributes || attributes->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT ||
        !TakesRgb32(xcb_get_setup(connection), geometry->depth, attributes->visual)) {
        return std::nullopt;
    }
    return geometry->depth;
}

class X11GraphSurface final : public IGraphSurface {
public:
    X11GraphSurface(xcb_connection_t* connection, QWidget& topLevel, std::uint8_t depth,
                    const QRect& area);
    ~X11GraphSurface() override;
    X11GraphSurface(const X11GraphSurface&) = delete;
    X11GraphSurface& operator=(const X11GraphSurface&) = delete;

    bool Show(const QImage& picture, const HistogramChange& change) override;

private:
    bool ParentAlive() const;
    void Scroll(int left);
    void PutSpans(const QImage& picture, const std::vector<int>& columns);
    void PutColumns(const QImage& picture, int left, int right);
    void Pack(const QImage& picture, int left, int top, int width, int rows);
    void Present();

    xcb_connection_t* m_connection;
    // The top-level widget and its X window, which Qt may replace: this window dies with it.
    QPointer<QWidget> m_topLevel;
    xcb_window_t m_parent;
    std::uint8_t m_depth;
    QSize m_size;
    std::uint32_t m_maxRequestBytes;
    xcb_pixmap_t m_pixmap;
    xcb_gcontext_t m_gc;
    xcb_window_t m_window;
    bool m_mapped = false;
    // The pixels of one PutImage request, row after row.
    std::vector<QRgb> m_pixels;
};

X11GraphSurface::X11GraphSurface(xcb_connection_t* connection, QWidget& topLevel,
                                 std::uint8_t depth, const QRect& area)
    : m_connection(connection)
    , m_topLevel(&topLevel)
    , m_parent(static_cast<xcb_window_t>(topLevel.internalWinId()))
    , m_depth(depth)
    , m_size(area.size())
    , m_maxRequestBytes(MaxRequestBytes(connection))
    , m_pixmap(xcb_generate_id(connection))
    , m_gc(xcb_generate_id(connection))
    , m_window(xcb_generate_id(connection)) {
    const auto width = static_cast<std::uint16_t>(area.width());
    const auto height = static_cast<std::uint16_t>(area.height());
    xcb_create_pixmap(m_connection, m_depth, m_pixmap, m_parent, width, height);
    // Copies inside the pixmap need no exposure events: every pixel copied is there.
    const std::uint32_t gcValues[] = {0};
    xcb_create_gc(m_connection, m_gc, m_pixmap, XCB_GC_GRAPHICS_EXPOSURES, gcValues);
    // Depth and visual of the parent; mapped with the first picture.
    const std::uint32_t windowValues[] = {m_pixmap};
    xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, m_parent,
                      static_cast<std::int16_t>(area.x()), static_cast<std::int16_t>(area.y()),
                      width, height, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                      XCB_CW_BACK_PIXMAP, windowValues);
    xcb_flush(m_connection);
}

X11GraphSurface::~X11GraphSurface() {
    if (QtConnection() != m_connection) {
        return; // the connection ended with the application, and everything made on it
    }
    // The window is gone already when Qt replaced the top-level window: no error for that.
    xcb_discard_reply(m_connection, xcb_destroy_window_checked(m_connection, m_window).sequence);
    xcb_free_gc(m_connection, m_gc);
    xcb_free_pixmap(m_connection, m_pixmap);
    xcb_flush(m_connection);
}

bool X11GraphSurface::ParentAlive() const {
    return m_topLevel != nullptr && m_topLevel->internalWinId() == m_parent;
}

bool X11GraphSurface::Show(const QImage& picture, const HistogramChange& change) {
    if (!ParentAlive() || picture.size() != m_size || picture.format() != QImage::Format_RGB32) {
        return false;
    }
    if (change.whole || !m_mapped) {
        PutColumns(picture, 0, m_size.width());
    } else {
        Scroll(change.scrolledLeft);
        PutSpans(picture, change.columns);
    }
    Present();
    xcb_flush(m_connection);
    return true;
}

// Moves the pixmap's picture `left` pixels to the left.
void X11GraphSurface::Scroll(int left) {
    if (left <= 0 || left >= m_size.width()) {
        return; // nothing moved, or nothing left to move: the columns say it all
    }
    xcb_copy_area(m_connection, m_pixmap, m_pixmap, m_gc, static_cast<std::int16_t>(left), 0, 0, 0,
                  static_cast<std::uint16_t>(m_size.width() - left),
                  static_cast<std::uint16_t>(m_size.height()));
}

// Sends the columns (ascending) as one image per run of adjacent columns.
void X11GraphSurface::PutSpans(const QImage& picture, const std::vector<int>& columns) {
    std::size_t i = 0;
    while (i < columns.size()) {
        const int left = columns[i];
        int right = left + 1;
        while (++i < columns.size() && columns[i] == right) {
            ++right;
        }
        if (left >= 0 && right <= m_size.width()) {
            PutColumns(picture, left, right);
        }
    }
}

// Sends the picture's columns [left, right) to the pixmap, in as many requests as the server's
// request length limit needs.
void X11GraphSurface::PutColumns(const QImage& picture, int left, int right) {
    const int width = right - left;
    const auto rowBytes = static_cast<std::uint32_t>(width * kPixelBytes);
    // The area's width fits one request (see Fits).
    const auto rowsPerRequest = static_cast<int>((m_maxRequestBytes - kPutImageHeader) / rowBytes);
    for (int top = 0; top < m_size.height(); top += rowsPerRequest) {
        const int rows = std::min(rowsPerRequest, m_size.height() - top);
        Pack(picture, left, top, width, rows);
        xcb_put_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, m_pixmap, m_gc,
                      static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(rows),
                      static_cast<std::int16_t>(left), static_cast<std::int16_t>(top), 0, m_depth,
                      rowBytes * static_cast<std::uint32_t>(rows),
                      reinterpret_cast<const std::uint8_t*>(m_pixels.data()));
    }
}

// Copies the picture's block of width x rows pixels at (left, top) to m_pixels, row after row.
void X11GraphSurface::Pack(const QImage& picture, int left, int top, int width, int rows) {
    m_pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(rows));
    const qsizetype stride = picture.bytesPerLine() / kPixelBytes;
    const QRgb* from = reinterpret_cast<const QRgb*>(picture.constBits()) + top * stride + left;
    QRgb* to = m_pixels.data();
    if (width == 1) {
        // Most columns drawn anew stand alone (where a vertical grid line comes or goes): one
        // pixel per row, not worth a copy call.
        for (int y = 0; y < rows; ++y) {
            to[y] = from[y * stride];
        }
        return;
    }
    for (int y = 0; y < rows; ++y, from += stride, to += width) {
        std::memcpy(to, from, static_cast<std::size_t>(width) * sizeof(QRgb));
    }
}

// Lets the window show the pixmap: mapped once, then cleared to its background after each
// drawing. The background is set again first, as the protocol leaves open whether the server
// sees drawing into a pixmap it already holds as a background.
void X11GraphSurface::Present() {
    if (!m_mapped) {
        xcb_map_window(m_connection, m_window);
        m_mapped = true;
        return;
    }
    const std::uint32_t values[] = {m_pixmap};
    xcb_change_window_attributes(m_connection, m_window, XCB_CW_BACK_PIXMAP, values);
    xcb_clear_area(m_connection, 0, m_window, 0, 0, 0, 0);
}

// Whether PutImage requests of the area's whole rows, and X coordinates, can hold it.
bool Fits(xcb_connection_t* connection, const QRect& area) {
    const std::uint32_t maxRequestBytes = MaxRequestBytes(connection);
    return area.width() > 0 && area.height() > 0 && area.right() <= kMaxSide &&
           area.bottom() <= kMaxSide && area.x() >= -kMaxSide && area.y() >= -kMaxSide &&
           static_cast<std::uint32_t>(area.width() * kPixelBytes) + kPutImageHeader <=
               maxRequestBytes;
}

} // namespace

std::unique_ptr<IGraphSurface> X11GraphSurfaceFactory::Create(QWidget& host,
                                                              const QRect& clientRect) {
    xcb_connection_t* const connection = QtConnection();
    QWidget* const topLevel = host.window();
    const auto parent = static_cast<xcb_window_t>(topLevel->internalWinId());
    if (connection == nullptr || parent == 0 || host.devicePixelRatio() != 1.0) {
        return nullptr;
    }
    const QRect area(host.mapTo(topLevel, clientRect.topLeft()), clientRect.size());
    if (!Fits(connection, area)) {
        return nullptr;
    }
    const std::optional<std::uint8_t> depth = Rgb32Depth(connection, parent);
    if (!depth) {
        return nullptr;
    }
    return std::make_unique<X11GraphSurface>(connection, *topLevel, *depth, area);
}

} // namespace fb::linux_impl
