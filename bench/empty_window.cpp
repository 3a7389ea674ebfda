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

// A picture that moves 3 pixels left on every tick, with one new column of colour at the right.
class TickingPicture final : public QWidget {
public:
    TickingPicture(QWidget* parent, QSize size)
        : QWidget(parent)
        , m_image(size, QImage::Format_RGB32) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setFixedSize(size);
        m_image.fill(Qt::black);
        connect(&m_ticks, &QTimer::timeout, this, &TickingPicture::Tick);
    }

    void Start() { m_ticks.start(100); }
    void Stop() { m_ticks.stop(); }

protected:
    void paintEvent(QPaintEvent* event) override {
        (void)event;
        QPainter painter(this);
        painter.drawImage(0, 0, m_image);
    }

private:
    void Tick() {
        constexpr int kStep = 3;
        const int width = m_image.width();
        for (int y = 0; y < m_image.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(m_image.scanLine(y));
            std::copy(row + kStep, row + width, row);
            std::fill(row + width - kStep, row + width, y == m_row ? qRgb(0, 255, 0) : 0u);
        }
        m_row = (m_row + 1) % m_image.height();
        update();
    }

    QImage m_image;
    QTimer m_ticks;
    int m_row = 0;
};

class TickingWindow final : public EmptyWindow {
public:
    explicit TickingWindow(QSize pictureSize)
        : m_picture(this, pictureSize) {
        m_picture.move(8, 8);
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

std::optional<QSize> SizeOption(const QStringList& arguments, QLatin1String option) {
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

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    // Hidden is not ended, as with a program that lives in the tray.
    QApplication::setQuitOnLastWindowClosed(false);

    const QStringList arguments = QApplication::arguments();
    const QSize size = SizeOption(arguments, QLatin1String("--size")).value_or(QSize(400, 300));
    std::optional<QSize> picture = SizeOption(arguments, QLatin1String("--ticking"));
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
