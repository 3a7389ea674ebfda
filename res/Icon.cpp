// SPDX-License-Identifier: GPL-3.0-or-later
#include "res/Icon.h"

#include <QIconEngine>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QPixmap>
#include <QString>

#include <algorithm>
#include <array>
#include <utility>

// The icon files are compiled into a static library. Nothing refers to their registration
// object, so a linker drops it from every program that uses the library, and the icon loads
// from files that are not there: a blank square in the notification area and the window
// manager's generic icon on the window. Registering the files from here, where the icon is
// built, ties them to every program that shows it. Outside any namespace, as the registration
// function is declared at the point of use.
static void RegisterIconFiles() {
    Q_INIT_RESOURCE(flowbright);
}

namespace fb::res {

namespace {

// Up to 128 pixels: the window's icon property carries every size (a 256-pixel one alone would
// add a quarter of a megabyte to it), and launchers and docks take the installed theme's icons.
constexpr std::array kSizes = {16, 22, 24, 32, 48, 64, 128};

// The icon's PNG files, decoded when a size is asked for and not kept: the window manager and the
// notification area take their copies once. The files are read as PNG by name, so no image
// format plugin is loaded to guess what they hold.
class PngIconEngine : public QIconEngine {
public:
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        painter->drawPixmap(rect, pixmap(rect.size(), mode, state));
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = std::min(size.width(), size.height());
        // The smallest file at least as large as asked, else the largest, scaled down to fit.
        int chosen = kSizes.back();
        for (int candidate : kSizes) {
            if (candidate >= side) {
                chosen = candidate;
                break;
            }
        }
        QImage image;
        QImageReader reader(QStringLiteral(":/flowbright/flowbright-%1.png").arg(chosen), "png");
        reader.setAutoDetectImageFormat(false);
        if (!reader.read(&image))
            return {};
        if (chosen > side && side > 0)
            image = image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        return QPixmap::fromImage(std::move(image));
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = std::min({size.width(), size.height(), kSizes.back()});
        return {side, side};
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        QList<QSize> sizes;
        for (int side : kSizes)
            sizes.append(QSize(side, side));
        return sizes;
    }

    QIconEngine* clone() const override { return new PngIconEngine; }
    QString key() const override { return QStringLiteral("FlowbrightPng"); }
};

} // namespace

QIcon ApplicationIcon() {
    static const bool registered = (RegisterIconFiles(), true);
    static_cast<void>(registered);
    return QIcon(new PngIconEngine);
}

} // namespace fb::res
