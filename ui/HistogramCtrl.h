// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/HistogramCore.h"
#include "platform/GraphSurface.h"

#include <QRect>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <memory>

class QHideEvent;
class QMoveEvent;
class QPaintEvent;
class QShowEvent;

namespace fb {

// The acceleration graph of the main window: two scrolling line plots over a grid, drawn by
// HistogramCore into an off-screen image that the paint handler copies inside a 2-pixel
// sunken edge. A timer of its own turns the values added since the last tick into one point per
// series and redraws the image. Where the display gives a graph surface, the display server shows
// the image inside the edge instead, and a tick hands it only what changed: the widget then
// paints its edge alone.
class CHistogramCtrl : public QWidget {
    Q_OBJECT

public:
    explicit CHistogramCtrl(HistogramDrawing drawing = HistogramDrawing::Direct);

    // Becomes a child of parent at rect (parent coordinates), builds the first image of the client
    // size (rect minus the edge) and starts the timer at 500 ms. Fails when called twice or when
    // the client area is empty; the control then draws nothing but its edge and its ticks do
    // nothing. The id is the control's number in its dialog, which keeps its own map of them.
    // With surfaces (kept for the control's life), the image is shown on a surface while the
    // control is visible, where the display gives one.
    bool Create(const QRect& rect, QWidget* parent, int id,
                IGraphSurfaceFactory* surfaces = nullptr);
    void SetRange(int lower, int upper);
    // Stops the timer and, for a period above 0, starts it again with that period. Returns the
    // previous period.
    int SetSpeed(int periodMs);
    void SetPens(int width, QRgb colour);
    void AddValues(std::uint32_t first, std::uint32_t second);
    // One timer tick.
    void Tick();
    bool IsRunning() const { return m_timer.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    QRect ClientRect() const;
    void OpenSurface();
    void CloseSurface();

    int m_updatePeriod = 0;
    HistogramCore m_core;
    QTimer m_timer;
    IGraphSurfaceFactory* m_surfaces = nullptr;
    std::unique_ptr<IGraphSurface> m_surface;
};

} // namespace fb
