// SPDX-License-Identifier: GPL-3.0-or-later
// A peer of the whole-program figures (scripts/measure.py): the least a Qt Widgets program does
// to show what the main window shows while it accelerates, with nothing behind it.
//
// A fixed-size window holds a graph picture that moves 3 pixels left every 100 ms (the image's
// rows are moved in place, a new strip of two lines is drawn at the right and only the graph is
// updated), and four labels whose texts change twice a second, as the statistics texts do. A
// tray icon is shown from the start. Esc hides the window to the tray: the graph and the labels
// stop, and only the half-second sample tick keeps running, as a sampler would. There is no
// platform layer, no settings and no network: the values are made up.
//
//   fb_minimal_qt_monitor [--size WIDTHxHEIGHT] [--graph WIDTHxHEIGHT]   (400x300, 340x44)

#include "bench/ScrollingPicture.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QRegularExpression>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstring>
#include <optional>

namespace {

constexpr int kGraphPeriodMs = 100;
constexpr int kSamplePeriodMs = 500;

class MonitorWindow final : public QWidget {
public:
    MonitorWindow(QSize size, QSize graphSize)
        : m_graph(this, graphSize.boundedTo(size - QSize(16, 16)).expandedTo(QSize(8, 8))) {
        setWindowTitle(QStringLiteral("Minimal Qt monitor"));
        setFixedSize(size);
        m_graph.move(8, 8);
        const int top = 16 + m_graph.height();
        for (size_t i = 0; i < m_labels.size(); ++i) {
            m_labels[i] = new QLabel(this);
            m_labels[i]->setGeometry(8, top + static_cast<int>(i) * 20, size.width() - 16, 18);
        }
        connect(&m_graphTicks, &QTimer::timeout, this, &MonitorWindow::OnGraphTick);
        connect(&m_sampleTicks, &QTimer::timeout, this, &MonitorWindow::OnSample);
        m_sampleTicks.start(kSamplePeriodMs);
        ShowTrayIcon();
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape) {
            hide();
            return;
        }
        QWidget::keyPressEvent(event);
    }
    void showEvent(QShowEvent* event) override {
        m_graphTicks.start(kGraphPeriodMs);
        QWidget::showEvent(event);
    }
    void hideEvent(QHideEvent* event) override {
        m_graphTicks.stop();
        QWidget::hideEvent(event);
    }

private:
    void ShowTrayIcon() {
        QPixmap icon(16, 16);
        icon.fill(Qt::darkGreen);
        m_tray.setIcon(QIcon(icon));
        m_tray.setToolTip(windowTitle());
        m_tray.show();
    }

    void OnGraphTick() {
        const int height = m_graph.height();
        m_graph.Scroll(height - 1 - static_cast<int>(m_received / 100) % height,
                       height - 1 - static_cast<int>(m_sent / 100) % height);
    }

    // A made-up sample; shown, the statistics texts follow it.
    void OnSample() {
        ++m_samples;
        m_received = (m_received * 1103515245u + 12345u) & 0x3fffu;
        m_sent = (m_sent * 69069u + 1u) & 0x3fffu;
        if (!isVisible())
            return;
        const int seconds = m_samples / 2;
        m_labels[0]->setText(QStringLiteral("Received: %1 KB/s").arg(m_received / 10.0, 0, 'f', 1));
        m_labels[1]->setText(QStringLiteral("Sent: %1 KB/s").arg(m_sent / 10.0, 0, 'f', 1));
        m_labels[2]->setText(QStringLiteral("Duration: %1:%2")
                                 .arg(seconds / 60)
                                 .arg(seconds % 60, 2, 10, QLatin1Char('0')));
        m_labels[3]->setText(QStringLiteral("Samples: %1").arg(m_samples));
    }

    fb::bench::ScrollingPicture m_graph;
    std::array<QLabel*, 4> m_labels{};
    QSystemTrayIcon m_tray;
    QTimer m_graphTicks;
    QTimer m_sampleTicks;
    int m_samples = 0;
    unsigned m_received = 1;
    unsigned m_sent = 1;
};

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    // Hidden in the tray is not ended.
    QApplication::setQuitOnLastWindowClosed(false);
    const QStringList arguments = QApplication::arguments();
    const QSize size =
        fb::bench::SizeOption(arguments, QLatin1String("--size")).value_or(QSize(400, 300));
    const QSize graph =
        fb::bench::SizeOption(arguments, QLatin1String("--graph")).value_or(QSize(340, 44));
    MonitorWindow window(size, graph);
    window.show();
    return QApplication::exec();
}
