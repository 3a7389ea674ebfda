// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/GraphSurface.h"

namespace fb::linux_impl {

// Graph areas on X11, over the program's own X connection: a child window of the host's
// top-level window whose background is a pixmap on the server holding the picture. A picture
// that continues the last one is a copy inside the pixmap and the columns drawn anew sent as
// images; the server repaints the window from the pixmap, also when it is uncovered or shown
// again, so the program never draws it on an exposure. No request waits for a reply, except when
// an area is made. Gives no area on other display systems, on a top-level window whose pixels are
// not Format_RGB32's, or at a device pixel ratio other than 1.
class X11GraphSurfaceFactory final : public IGraphSurfaceFactory {
public:
    std::unique_ptr<IGraphSurface> Create(QWidget& host, const QRect& clientRect) override;
};

} // namespace fb::linux_impl
