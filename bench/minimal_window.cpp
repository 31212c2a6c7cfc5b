// The baseline of bench_launch: the smallest Qt Widgets program that shows one empty
// window and keeps running until it is killed.

#include <QApplication>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Minimal"));
    window.show();
    return QApplication::exec();
}
