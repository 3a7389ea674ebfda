// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/TrayHost.h"

#include <QWidget>

#include <functional>

class QVariantAnimation;

namespace fb {

// A caption-sized frame that flies from one screen rectangle to another, as the desktop's
// minimise and restore effects do. It is a top-level window of its own that takes no input
// and no focus, and it deletes itself when it has landed.
class CaptionFlight : public QWidget {
public:
    static constexpr int kDurationMs = 200;
    static constexpr const char* kObjectName = "fbCaptionFlight";

    // Starts a flight; `landed` runs once at its end (not if the flight is destroyed early).
    static CaptionFlight* Start(const TrayRect& from, const TrayRect& to,
                                std::function<void()> landed = {});

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    CaptionFlight(const TrayRect& from, const TrayRect& to, std::function<void()> landed);

    void MoveTo(double progress);

    TrayRect m_from;
    TrayRect m_to;
    int m_captionHeight;
    std::function<void()> m_landed;
    QVariantAnimation* m_animation;
};

} // namespace fb
