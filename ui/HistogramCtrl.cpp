// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/HistogramCtrl.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHideEvent>
#include <QMoveEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <qdrawutil.h>

namespace fb {

namespace {

// Width of the sunken edge around the client area, per side.
constexpr int kEdge = 2;
// The timer's period until the owner sets its own, in milliseconds.
constexpr int kFirstPeriod = 500;

// To assistive technologies the control is a chart, which its owner names and describes, not an
// anonymous area of the window.
QAccessibleInterface* AccessibleChart(const QString& className, QObject* object) {
    if (className == QLatin1String(CHistogramCtrl::staticMetaObject.className()) &&
        object != nullptr && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Chart);
    return nullptr;
}

} // namespace

CHistogramCtrl::CHistogramCtrl(HistogramDrawing drawing)
    : m_core(drawing) {
    static const bool chartRole = (QAccessible::installFactory(AccessibleChart), true);
    static_cast<void>(chartRole);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::TabFocus);
    connect(&m_timer, &QTimer::timeout, this, &CHistogramCtrl::Tick);
}

bool CHistogramCtrl::Create(const QRect& rect, QWidget* parent, int /*id*/,
                            IGraphSurfaceFactory* surfaces) {
    if (m_core.HasImage()) {
        return false;
    }
    m_surfaces = surfaces;
    setParent(parent);
    setGeometry(rect);
    show();
    if (!m_core.BuildImage(rect.width() - 2 * kEdge, rect.height() - 2 * kEdge)) {
        return false;
    }
    update();
    OpenSurface();
    m_updatePeriod = kFirstPeriod;
    m_timer.start(m_updatePeriod);
    return true;
}

void CHistogramCtrl::SetRange(int lower, int upper) {
    m_core.SetRange(lower, upper);
}

int CHistogramCtrl::SetSpeed(int periodMs) {
    const int previous = m_updatePeriod;
    m_updatePeriod = periodMs;
    m_timer.stop();
    // A negative period is no period: the timer stays stopped.
    if (periodMs > 0) {
        m_timer.start(periodMs);
    }
    return previous;
}

void CHistogramCtrl::SetPens(int width, QRgb colour) {
    m_core.SetPens(width, colour);
}

void CHistogramCtrl::AddValues(std::uint32_t first, std::uint32_t second) {
    m_core.AddValues(first, second);
}

void CHistogramCtrl::Tick() {
    if (!m_core.HasImage()) {
        return;
    }
    m_core.Tick();
    if (m_surface != nullptr) {
        if (m_core.HasImage() && m_surface->Show(m_core.Image(), m_core.Change())) {
            return;
        }
        m_surface.reset(); // the widget paints the picture from now on
    }
    // Only the picture changes; the edge around it stays as it was painted.
    update(ClientRect());
}

QRect CHistogramCtrl::ClientRect() const {
    return rect().adjusted(kEdge, kEdge, -kEdge, -kEdge);
}

// A surface while the control is visible and has an image, showing the image from the start.
void CHistogramCtrl::OpenSurface() {
    if (m_surfaces == nullptr || m_surface != nullptr || !m_core.HasImage() || !isVisible()) {
        return;
    }
    m_surface = m_surfaces->Create(*this, ClientRect());
    const HistogramChange whole;
    if (m_surface != nullptr && !m_surface->Show(m_core.Image(), whole)) {
        m_surface.reset();
    }
}

void CHistogramCtrl::CloseSurface() {
    m_surface.reset();
    update(ClientRect());
}

void CHistogramCtrl::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    OpenSurface();
}

// The surface lies in the top-level window and stays visible with it: hidden within its window
// (itself or a parent), the control lets it go and makes a new one when shown again. Hidden or
// minimised with its window, the control keeps it, and the display shows the picture again as
// soon as the window is back.
void CHistogramCtrl::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!isVisibleTo(window())) {
        CloseSurface();
    }
}

// The surface stays where it was made: a moved control needs a new one.
void CHistogramCtrl::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (m_surface != nullptr) {
        CloseSurface();
        OpenSurface();
    }
}

void CHistogramCtrl::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    // The sunken client edge: two pixels per side, shadow outside and dark line inside on the
    // top and left, light on the bottom and right. Drawn only when the paint reaches it.
    const QRect inside = ClientRect();
    if (!inside.contains(event->rect())) {
        qDrawWinPanel(&painter, rect(), palette(), true);
    }
    if (m_surface != nullptr) {
        return; // the display shows the picture
    }
    const QImage& image = m_core.Image();
    if (!image.isNull()) {
        painter.drawImage(QPoint(kEdge, kEdge), image);
    } else {
        painter.fillRect(inside, palette().color(QPalette::Window));
    }
}

} // namespace fb
