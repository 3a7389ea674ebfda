// SPDX-License-Identifier: GPL-3.0-or-later
// The floors of the whole-program figures (scripts/measure.py).
//
// Plain: the smallest Qt Widgets program that shows one empty top-level window. It does what the
// main window does to the measurement and nothing else: it is shown at start, Esc hides it, and
// the program keeps running hidden until it is ended by a signal.
//
// With --ticking: the same window also keeps the main window's clock, and nothing more. A child
// of the graph's size scrolls a plain picture 3 pixels left every 100 ms while the window is
// shown, and a timer fires every 500 ms, shown or hidden, and does nothing. That is the least any
// Qt Widgets program can spend on a graph that moves ten times a second and a sampler that wakes
// twice a second.
//
//   fb_empty_window [--size WIDTHxHEIGHT] [--ticking WIDTHxHEIGHT]     (size default 400x300)

#include "bench/ScrollingPicture.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <memory>
#include <optional>

namespace {

class EmptyWindow : public QWidget {
protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape) {
            hide();
            return;
        }
        QWidget::keyPressEvent(event);
    }
};

// The picture ticks every 100 ms while shown, with a green row that moves down a row a tick.
class TickingPicture {
public:
    TickingPicture(QWidget* parent, QSize size)
        : m_picture(parent, size) {
        QObject::connect(&m_ticks, &QTimer::timeout, &m_picture, [this] {
            m_picture.Scroll(m_row, -1);
            m_row = (m_row + 1) % m_picture.height();
        });
    }

    void Start() { m_ticks.start(100); }
    void Stop() { m_ticks.stop(); }
    void Move(int x, int y) { m_picture.move(x, y); }

private:
    fb::bench::ScrollingPicture m_picture;
    QTimer m_ticks;
    int m_row = 0;
};

class TickingWindow final : public EmptyWindow {
public:
    explicit TickingWindow(QSize pictureSize)
        : m_picture(this, pictureSize) {
        m_picture.Move(8, 8);
        connect(&m_sampler, &QTimer::timeout, this, [] {});
        m_sampler.start(500);
    }

protected:
    void showEvent(QShowEvent* event) override {
        m_picture.Start();
        EmptyWindow::showEvent(event);
    }
    void hideEvent(QHideEvent* event) override {
        m_picture.Stop();
        EmptyWindow::hideEvent(event);
    }

private:
    TickingPicture m_picture;
    QTimer m_sampler;
};

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    // Hidden is not ended, as with a program that lives in the tray.
    QApplication::setQuitOnLastWindowClosed(false);

    const QStringList arguments = QApplication::arguments();
    const QSize size =
        fb::bench::SizeOption(arguments, QLatin1String("--size")).value_or(QSize(400, 300));
    std::optional<QSize> picture = fb::bench::SizeOption(arguments, QLatin1String("--ticking"));
    if (picture)
        *picture = picture->boundedTo(size - QSize(16, 16)).expandedTo(QSize(8, 8));

    std::unique_ptr<QWidget> window;
    if (picture)
        window = std::make_unique<TickingWindow>(*picture);
    else
        window = std::make_unique<EmptyWindow>();
    window->setWindowTitle(picture ? QStringLiteral("Ticking window")
                                   : QStringLiteral("Empty window"));
    window->setFixedSize(size);
    window->show();
    return QApplication::exec();
}
