// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/HistogramChange.h"

#include <memory>

class QImage;
class QRect;
class QWidget;

namespace fb {

// An area of a window where the display server itself shows the graph's pictures: a new picture
// that continues the last one costs moving what is shown and sending the columns drawn anew,
// without the toolkit's repaint. What the area shows survives the window being hidden and shown.
class IGraphSurface {
public:
    virtual ~IGraphSurface() = default;
    // Shows the picture (Format_RGB32, of the area's size), which differs from the one shown
    // before as the change says. Returns false when the area can show nothing any more (its
    // window was replaced, or the picture does not fit it): the caller then paints it itself.
    virtual bool Show(const QImage& picture, const HistogramChange& change) = 0;
};

class IGraphSurfaceFactory {
public:
    virtual ~IGraphSurfaceFactory() = default;
    // An area over clientRect (host coordinates) of the shown host, staying where it is put; none
    // where the display cannot give one, and the host then paints the picture itself. The area
    // shows nothing until its first picture, which it takes whole.
    virtual std::unique_ptr<IGraphSurface> Create(QWidget& host, const QRect& clientRect) = 0;
};

} // namespace fb
