// The floor of the whole-program figures (scripts/measure.py): the smallest Qt Widgets program
// that shows one empty top-level window. It does what the main window does to the measurement
// and nothing else: it is shown at start, Esc hides it, and the program keeps running hidden
// until it is ended by a signal.
//
//   fb_empty_window [--size WIDTHxHEIGHT]     (default 400x300)

#include <QApplication>
#include <QKeyEvent>
#include <QRegularExpression>
#include <QStringList>
#include <QWidget>

namespace {

class EmptyWindow final : public QWidget {
protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape) {
            hide();
            return;
        }
        QWidget::keyPressEvent(event);
    }
};

QSize RequestedSize(const QStringList& arguments) {
    static const QRegularExpression sizePattern(
        QStringLiteral("^([1-9][0-9]{0,4})x([1-9][0-9]{0,4})$"));
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments.at(i) != QLatin1String("--size"))
            continue;
        const QRegularExpressionMatch match = sizePattern.match(arguments.at(i + 1));
        if (match.hasMatch())
            return {match.captured(1).toInt(), match.captured(2).toInt()};
    }
    return {400, 300};
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    // Hidden is not ended, as with a program that lives in the tray.
    QApplication::setQuitOnLastWindowClosed(false);

    EmptyWindow window;
    window.setWindowTitle(QStringLiteral("Empty window"));
    window.setFixedSize(RequestedSize(QApplication::arguments()));
    window.show();
    return QApplication::exec();
}
