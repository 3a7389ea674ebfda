// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/CaptionFlight.h"

#include "ui/TrayArea.h"

#include <QPainter>
#include <QStyle>
#include <QVariantAnimation>

#include <algorithm>
#include <utility>

namespace fb {

CaptionFlight* CaptionFlight::Start(const TrayRect& from, const TrayRect& to,
                                    std::function<void()> landed) {
    return new CaptionFlight(from, to, std::move(landed));
}

CaptionFlight::CaptionFlight(const TrayRect& from, const TrayRect& to, std::function<void()> landed)
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus |
                           Qt::BypassWindowManagerHint)
    , m_from(from)
    , m_to(to)
    , m_captionHeight(std::max(style()->pixelMetric(QStyle::PM_TitleBarHeight), 8))
    , m_landed(std::move(landed))
    , m_animation(new QVariantAnimation(this)) {
    setObjectName(QLatin1String(kObjectName));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose);
    m_animation->setDuration(kDurationMs);
    m_animation->setStartValue(0.0);
    m_animation->setEndValue(1.0);
    m_animation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_animation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { MoveTo(value.toDouble()); });
    connect(m_animation, &QVariantAnimation::finished, this, [this] {
        hide();
        auto landed = std::move(m_landed);
        deleteLater();
        if (landed)
            landed();
    });
    MoveTo(0.0);
    show();
    m_animation->start();
}

void CaptionFlight::MoveTo(double progress) {
    const TrayRect frame = CaptionFrameAt(m_from, m_to, progress, m_captionHeight);
    setGeometry(frame.left, frame.top, std::max(frame.Width(), 1), std::max(frame.Height(), 1));
}

void CaptionFlight::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Active, QPalette::Highlight));
    painter.setPen(palette().color(QPalette::Active, QPalette::Dark));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

} // namespace fb
