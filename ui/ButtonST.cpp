// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ButtonST.h"

#include <QEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QStyle>
#include <QStyleOption>
#include <QStylePainter>
#include <QTimer>
#include <QToolTip>

#include <algorithm>

namespace fb {

namespace {

// A tip window that looks like the desktop's own tooltips.
class TipLabel : public QLabel {
public:
    explicit TipLabel(QWidget* owner)
        : QLabel(owner, Qt::ToolTip | Qt::BypassGraphicsProxyWidget) {
        setObjectName(QStringLiteral("fbButtonTip"));
        setForegroundRole(QPalette::ToolTipText);
        setBackgroundRole(QPalette::ToolTipBase);
        setPalette(QToolTip::palette());
        setFont(QToolTip::font());
        setTextFormat(Qt::PlainText);
        setAlignment(Qt::AlignLeft);
        setIndent(1);
        setMargin(1 + style()->pixelMetric(QStyle::PM_ToolTipLabelFrameWidth, nullptr, this));
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

    // Sets the text; a text wider than `maxWidth` pixels wraps onto several lines.
    void SetWrappedText(const QString& text, int maxWidth) {
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        setWordWrap(false);
        setText(text);
        const int frame = 2 * (margin() + indent());
        QSize size = sizeHint();
        if (size.width() - frame > maxWidth) {
            setWordWrap(true);
            const int width = maxWidth + frame;
            size = QSize(width, heightForWidth(width));
        }
        setFixedSize(size);
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        QStylePainter painter(this);
        QStyleOptionFrame option;
        option.initFrom(this);
        painter.drawPrimitive(QStyle::PE_PanelTipLabel, option);
        painter.end();
        QLabel::paintEvent(event);
    }
};

bool IsInputEvent(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Enter:
    case QEvent::Leave:
    case QEvent::HoverEnter:
    case QEvent::HoverLeave:
    case QEvent::ToolTip:
    case QEvent::Wheel:
        return true;
    default:
        return false;
    }
}

} // namespace

CButtonST::CButtonST(QWidget* parent)
    : QPushButton(parent) {}

CButtonST::CButtonST(const QString& text, QWidget* parent)
    : QPushButton(text, parent) {}

CButtonST::~CButtonST() = default;

void CButtonST::EnsureTooltip() {
    if (m_tip != nullptr)
        return;
    m_tip = new TipLabel(this);
    m_tip->hide();
    m_tipTimer = new QTimer(this);
    m_tipTimer->setSingleShot(true);
    connect(m_tipTimer, &QTimer::timeout, this, &CButtonST::HideTip);
    m_tipActive = false;
}

void CButtonST::SetTooltip(const char* text, bool activate) {
    if (text == nullptr)
        return;
    EnsureTooltip();
    if (!m_hasTool) {
        m_hasTool = true;
        m_toolRect = rect();
    }
    m_tipText = QString::fromUtf8(text);
    static_cast<TipLabel*>(m_tip)->SetWrappedText(m_tipText, kMaxTipWidth);
    m_tipActive = activate;
    if (!activate)
        HideTip();
}

bool CButtonST::ShowTip(const QPoint& localPos, const QPoint& globalPos) {
    if (m_tip == nullptr || !m_hasTool || !m_tipActive || m_tipText.isEmpty() ||
        !m_toolRect.contains(localPos)) {
        HideTip();
        return false;
    }
    // Below and right of the cursor as the desktop's tips, kept on the cursor's screen.
    QPoint at = globalPos + QPoint(2, 16);
    if (const QScreen* screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        at.setX(std::max(area.left(), std::min(at.x(), area.right() + 1 - m_tip->width())));
        if (at.y() + m_tip->height() > area.bottom() + 1)
            at.setY(globalPos.y() - 4 - m_tip->height());
        at.setY(std::max(area.top(), at.y()));
    }
    m_tip->move(at);
    m_tip->show();
    m_tip->raise();
    m_tipTimer->start(kTipShowMs);
    return true;
}

void CButtonST::HideTip() {
    if (m_tipTimer != nullptr)
        m_tipTimer->stop();
    if (m_tip != nullptr)
        m_tip->hide();
}

bool CButtonST::event(QEvent* event) {
    const QEvent::Type type = event->type();
    if (IsInputEvent(type)) {
        // Every button has its tip window from its first input on, text or not.
        EnsureTooltip();
        switch (type) {
        case QEvent::ToolTip: {
            const auto* help = static_cast<QHelpEvent*>(event);
            ShowTip(help->pos(), help->globalPos());
            return true;
        }
        case QEvent::Leave:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::Wheel:
            HideTip();
            break;
        default:
            break;
        }
    } else if (type == QEvent::Hide) {
        HideTip();
    }
    return QPushButton::event(event);
}

void CButtonST::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second click of a double-click is an ordinary press.
    mousePressEvent(event);
}

void CButtonST::keyPressEvent(QKeyEvent* event) {
    // Return (or Enter) presses a focused push button, as Space does, without the button
    // having to become the dialog's default one (whose frame would change its look). A check
    // box keeps Space alone, and a held key presses once.
    const int key = event->key();
    const bool enterKey = key == Qt::Key_Return || key == Qt::Key_Enter;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (enterKey && modifiers == Qt::NoModifier && !isCheckable()) {
        if (!event->isAutoRepeat())
            click();
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}

} // namespace fb
