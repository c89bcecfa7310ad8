// The yardstick for Halvorne's start-up time: a Qt Widgets program that
// shows one window, lets it be painted, and exits.
#include <QApplication>
#include <QLabel>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLabel window(QStringLiteral("SPOJENÍ NAVÁZÁNO"));
    window.resize(571, 126);
    window.show();
    QTimer::singleShot(0, &app, [&] {
        window.repaint();
        app.quit();
    });
    return app.exec();
}
