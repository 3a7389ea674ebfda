// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TrayArea.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace fb {

std::optional<TaskbarPos> TaskbarFromWorkArea(const TrayRect& screen, const TrayRect& workArea) {
    if (screen.IsEmpty() || workArea.IsEmpty())
        return std::nullopt;
    const TrayRect work{std::max(workArea.left, screen.left), std::max(workArea.top, screen.top),
                        std::min(workArea.right, screen.right),
                        std::min(workArea.bottom, screen.bottom)};
    if (work.IsEmpty())
        return std::nullopt;

    // In order of preference on a tie.
    const std::array<TaskbarPos, 4> strips{{
        {{screen.left, work.bottom, screen.right, screen.bottom}, kEdgeBottom},
        {{screen.left, screen.top, screen.right, work.top}, kEdgeTop},
        {{screen.left, screen.top, work.left, screen.bottom}, kEdgeLeft},
        {{work.right, screen.top, screen.right, screen.bottom}, kEdgeRight},
    }};
    auto thickness = [](const TaskbarPos& strip) {
        return strip.edge == kEdgeTop || strip.edge == kEdgeBottom ? strip.rect.Height()
                                                                   : strip.rect.Width();
    };
    const TaskbarPos* best = nullptr;
    for (const auto& strip : strips) {
        if (thickness(strip) > 0 && (best == nullptr || thickness(strip) > thickness(*best)))
            best = &strip;
    }
    if (best == nullptr)
        return std::nullopt;
    return *best;
}

bool TrayAreaFromTaskbar(const TaskbarPos& taskbar, TrayRect& rect) {
    const TrayRect& rc = taskbar.rect;
    switch (taskbar.edge) {
    case kEdgeTop:
    case kEdgeBottom:
        rect = {rc.right - 100, rc.top, rc.right - 16, rc.bottom};
        return true;
    case kEdgeLeft:
    case kEdgeRight:
        rect = {rc.left, rc.bottom - 100, rc.right, rc.bottom - 16};
        return true;
    default:
        return false;
    }
}

TrayRect TrayAreaFromWorkArea(const TrayRect& workArea) {
    TrayRect rect = workArea;
    rect.left = rect.right - 150;
    rect.top = rect.bottom - 30;
    return rect;
}

TrayRect LocateTrayArea(ITrayHost& host, unsigned iconId) {
    if (const auto icon = host.IconGeometry(iconId); icon && !icon->IsEmpty())
        return *icon;
    const TrayRect workArea = host.WorkArea();
    TrayRect rect;
    if (const auto taskbar = TaskbarFromWorkArea(host.ScreenArea(), workArea);
        taskbar && TrayAreaFromTaskbar(*taskbar, rect)) {
        return rect;
    }
    return TrayAreaFromWorkArea(workArea);
}

TrayRect CaptionFrameAt(const TrayRect& from, const TrayRect& to, double progress,
                        int captionHeight) {
    const double t = std::clamp(progress, 0.0, 1.0);
    auto strip = [captionHeight](const TrayRect& r) {
        return TrayRect{r.left, r.top, r.right, r.top + std::clamp(r.Height(), 0, captionHeight)};
    };
    const TrayRect a = strip(from);
    const TrayRect b = strip(to);
    auto blend = [t](int x, int y) {
        return static_cast<int>(std::lround(x + (static_cast<double>(y) - x) * t));
    };
    return {blend(a.left, b.left), blend(a.top, b.top), blend(a.right, b.right),
            blend(a.bottom, b.bottom)};
}

} // namespace fb
