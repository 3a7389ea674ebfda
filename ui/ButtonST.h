// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPushButton>
#include <QRect>
#include <QString>

class QLabel;
class QTimer;

namespace fb {

// A push button that carries a tooltip, shown while the mouse rests on the button, and that
// counts the second click of a double-click as an ordinary press. It draws exactly as the
// standard push button. As in Windows dialogs, Return on a focused push button presses it.
class CButtonST : public QPushButton {
    Q_OBJECT

public:
    // The widest a tip grows before its text wraps onto several lines, in pixels.
    static constexpr int kMaxTipWidth = 400;
    // How long a tip stays up while the mouse rests, in milliseconds.
    static constexpr int kTipShowMs = 10000;

    explicit CButtonST(QWidget* parent = nullptr);
    explicit CButtonST(const QString& text, QWidget* parent = nullptr);
    ~CButtonST() override;

    // Sets the tip's text (UTF-8) and switches the tip on or off. A null text changes
    // nothing. The tip covers the button's rectangle as it is at the first call.
    void SetTooltip(const char* text, bool activate);

    // Creates the tip window when it does not exist yet (off, without text).
    void EnsureTooltip();

    // State of the tip, for the window that owns the button and for tests.
    int ToolCount() const { return m_hasTool ? 1 : 0; }
    QString TipText() const { return m_tipText; }
    bool TipActive() const { return m_tipActive; }
    QRect ToolRect() const { return m_toolRect; }
    bool HasTipWindow() const { return m_tip != nullptr; }
    // The tip window while it exists (shown by the hover delay, or by ShowTip).
    QLabel* TipWindow() const { return m_tip; }

    // Shows the tip at a global position as the hover delay does, when the tip is on, has a
    // text and `localPos` lies in the tool's rectangle. Returns whether it is shown.
    bool ShowTip(const QPoint& localPos, const QPoint& globalPos);
    void HideTip();

protected:
    bool event(QEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLabel* m_tip = nullptr;
    QTimer* m_tipTimer = nullptr;
    bool m_hasTool = false;
    bool m_tipActive = false;
    QString m_tipText;
    QRect m_toolRect;
};

} // namespace fb
