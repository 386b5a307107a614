// The smallest Qt Widgets program with a window: the yardstick footprint_bench measures the
// windowed programs against.
#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("A minimal Qt window"));
    label.show();
    return QApplication::exec();
}
