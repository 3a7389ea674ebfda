// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/HistogramChange.h"
#include "net/HistogramPlan.h"
#include "net/HistogramRaster.h"

#include <QImage>
#include <QRgb>

#include <cstdint>
#include <vector>

namespace fb {

// Writes the pixels of a HistogramPlan. With 1-pixel pens no grid piece ever lands on a line
// piece drawn before it (a stage's grid pieces lie right of where the earlier stages' pieces
// reach after the scroll), and the horizontal grid pieces join into whole rows: the picture is
// the bare grid (background, grid rows, the vertical grid columns) under the line pieces drawn
// in stage order. When the plan continues the last one, the last picture moved 3 pixels left
// holds the new one everywhere but in a few columns, and only those are painted again. Wider pens
// reach the grid pieces of later stages, which then cover them: those pictures are drawn stage by
// stage, as the scroll steps would draw them.
class HistogramCanvas {
public:
    static constexpr QRgb kBackgroundColour = qRgb(0, 0, 0);
    static constexpr QRgb kGridColour = qRgb(0, 130, 66);

    // The first image's grid, and the grid pieces of one scroll step with its vertical line at x.
    static void DrawFirstGrid(HistogramRaster& raster, int width, int height);
    static void DrawScrollGrid(HistogramRaster& raster, int x, int width, int height);

    // Draws the planned picture with the pens. Fails when no canvas can be made.
    bool Draw(const HistogramPlan& plan, const HistogramPen& pen1, const HistogramPen& pen2);
    // The picture: a read-only window onto the canvas. Its pixels, and those of its shallow
    // copies, change with the next Draw and end with the canvas; copy() it to keep a picture.
    const QImage& Image() const { return m_image; }
    // How the picture differs from the last one drawn: moved with a few columns drawn anew, or
    // whole.
    const HistogramChange& Change() const { return m_change; }

private:
    // The canvas is wider than the picture, which is a window onto it from column m_viewLeft on:
    // moving the picture 3 pixels left is moving the window 3 columns right, and the rows are
    // copied back to the start only once the slack is used up.
    static constexpr int kSlack = 128 * HistogramPlan::kScrollStep;

    QRgb* View(bool moveLeft);
    void BuildBareRows(const HistogramPlan& plan);
    const QRgb* BareRow(int y) const;
    void DrawThin(QRgb* view, const HistogramPlan& plan) const;
    void DrawWide(QRgb* view, const HistogramPlan& plan) const;
    void MarkChangedColumns(const HistogramPlan& plan);
    void RepaintChanged(QRgb* view, const HistogramPlan& plan) const;
    void PaintBareColumn(QRgb* view, int x) const;
    void PaintPieces(QRgb* view, int x, const HistogramPlan& plan) const;

    QImage m_canvas;
    QImage m_image;
    int m_width = 0;
    int m_height = 0;
    qsizetype m_step = 0; // pixels from one row to the next
    int m_viewLeft = 0;
    HistogramPen m_pen1;
    HistogramPen m_pen2;
    bool m_lastValid = false;
    // A row without and a row with a horizontal grid line; the last picture's row without one.
    std::vector<QRgb> m_plainRow;
    std::vector<QRgb> m_gridRow;
    std::vector<QRgb> m_lastPlainRow;
    // When the last picture is moved: by how much, and the columns painted again.
    HistogramChange m_change;
    std::vector<std::uint8_t> m_changedMarks;
};

} // namespace fb
