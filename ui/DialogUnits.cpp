// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/DialogUnits.h"

#include <QFont>
#include <QFontMetrics>

namespace fb {

namespace {

// MulDiv: a * b / c rounded to nearest, halves away from zero.
int MulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

} // namespace

DialogUnits DialogUnits::ForFont(const QFont& font) {
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    // The average of the 52 letters, rounded to nearest.
    const int baseX = (width / 26 + 1) / 2;
    return DialogUnits(baseX > 0 ? baseX : 1, metrics.height() > 0 ? metrics.height() : 1);
}

DialogUnits DialogUnits::WidenedToFit(const QFont& font, const QList<FittedText>& texts) const {
    const QFontMetrics metrics(font);
    int baseX = m_baseX;
    for (const FittedText& fitted : texts) {
        if (fitted.widthUnits <= 0)
            continue;
        const int needed = metrics.horizontalAdvance(fitted.text) + fitted.margin;
        // The smallest base for which X(widthUnits) >= needed.
        while (MulDiv(fitted.widthUnits, baseX, 4) < needed)
            ++baseX;
    }
    return DialogUnits(baseX, m_baseY);
}

int DialogUnits::X(int units) const {
    return MulDiv(units, m_baseX, 4);
}

int DialogUnits::Y(int units) const {
    return MulDiv(units, m_baseY, 8);
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
    // Position and size are each converted on their own, as dialog templates are.
    return QRect(X(x), Y(y), X(width), Y(height));
}

} // namespace fb
