// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Pieces shared by the floor and the minimal Qt monitor of the whole-program figures.

#include <QImage>
#include <QLatin1String>
#include <QPainter>
#include <QRegularExpression>
#include <QStringList>
#include <QWidget>

#include <algorithm>
#include <optional>

namespace fb::bench {

// A picture of the graph's size that moves 3 pixels left on every Scroll, with a strip at the
// right edge that is black but for one green and one red row (a row outside the picture draws
// nothing).
class ScrollingPicture final : public QWidget {
public:
    ScrollingPicture(QWidget* parent, QSize size)
        : QWidget(parent)
        , m_image(size, QImage::Format_RGB32) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setFixedSize(size);
        m_image.fill(Qt::black);
    }

    void Scroll(int greenRow, int redRow) {
        constexpr int kStep = 3;
        const int width = m_image.width();
        for (int y = 0; y < m_image.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(m_image.scanLine(y));
            std::copy(row + kStep, row + width, row);
            const QRgb colour = y == greenRow ? qRgb(0, 255, 0)
                                : y == redRow ? qRgb(255, 0, 0)
                                              : qRgb(0, 0, 0);
            std::fill(row + width - kStep, row + width, colour);
        }
        update();
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        (void)event;
        QPainter painter(this);
        painter.drawImage(0, 0, m_image);
    }

private:
    QImage m_image;
};

// The size given on the command line after `option` as WIDTHxHEIGHT, if any.
inline std::optional<QSize> SizeOption(const QStringList& arguments, QLatin1String option) {
    static const QRegularExpression sizePattern(
        QStringLiteral("^([1-9][0-9]{0,4})x([1-9][0-9]{0,4})$"));
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments.at(i) != option)
            continue;
        const QRegularExpressionMatch match = sizePattern.match(arguments.at(i + 1));
        if (match.hasMatch())
            return QSize(match.captured(1).toInt(), match.captured(2).toInt());
    }
    return std::nullopt;
}

} // namespace fb::bench
