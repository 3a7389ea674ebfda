// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QRect>
#include <QString>

class QFont;

namespace fb {

// Converts dialog-template units to pixels with the base units of the dialog's font, as dialog
// templates are laid out: x * baseX / 4 and y * baseY / 8, rounded to nearest.
class DialogUnits {
public:
    DialogUnits(int baseX, int baseY)
        : m_baseX(baseX)
        , m_baseY(baseY) {}

    // The base units of a font: the average width of the Latin letters and the line height.
    static DialogUnits ForFont(const QFont& font);

    // A text that must fit a control of the given width in dialog units, with `margin` pixels
    // taken by the control's frame and padding.
    struct FittedText {
        QString text;
        int widthUnits;
        int margin;
    };

    // The base units, widened where a font's letters are wider than its average suggests
    // (as wide sans-serif fonts are) so that every text fits its control. Proportions stay.
    DialogUnits WidenedToFit(const QFont& font, const QList<FittedText>& texts) const;

    int BaseX() const { return m_baseX; }
    int BaseY() const { return m_baseY; }
    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int width, int height) const;

private:
    int m_baseX;
    int m_baseY;
};

} // namespace fb
