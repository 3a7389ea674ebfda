// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/TrayHost.h"

#include <optional>

namespace fb {

// Screen edges of a panel, with their Windows numbers (ABE_LEFT, ABE_TOP, ABE_RIGHT,
// ABE_BOTTOM).
inline constexpr unsigned kEdgeLeft = 0;
inline constexpr unsigned kEdgeTop = 1;
inline constexpr unsigned kEdgeRight = 2;
inline constexpr unsigned kEdgeBottom = 3;

// A panel's rectangle and the screen edge it sits on (ABM_GETTASKBARPOS).
struct TaskbarPos {
    TrayRect rect;
    unsigned edge = kEdgeBottom;
};

// The panel that holds the notification area, seen as the widest strip of the screen that
// lies outside the work area; none when the work area covers the whole screen. On a tie the
// bottom edge wins, then top, left and right.
std::optional<TaskbarPos> TaskbarFromWorkArea(const TrayRect& screen, const TrayRect& workArea);

// The icon area inside a panel: 100 pixels from the panel's far end, less the last 16, along
// the panel. False (and `rect` untouched) for an edge value that names no edge.
bool TrayAreaFromTaskbar(const TaskbarPos& taskbar, TrayRect& rect);

// The last resort: a 150 x 30 box in the bottom-right corner of the work area.
TrayRect TrayAreaFromWorkArea(const TrayRect& workArea);

// The screen rectangle of the icon area: the icon's own rectangle when the desktop tells it,
// else the panel's icon area, else the corner box of the work area.
TrayRect LocateTrayArea(ITrayHost& host, unsigned iconId);

// The caption-sized frame that flies between two rectangles: the caption strip (at most
// `captionHeight` tall) at the top of `from` at progress 0, of `to` at progress 1, and the
// linear blend between them.
TrayRect CaptionFrameAt(const TrayRect& from, const TrayRect& to, double progress,
                        int captionHeight);

} // namespace fb
