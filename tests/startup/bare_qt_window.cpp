// The start-up benchmark's reference on Linux (tools/bench_startup.py --qt): a bare Qt window with the
// control window's client size (5010 x 6330 twips at 96 dpi), nothing in it.
#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare window"));
    window.setFixedSize(5010 / 15, 6330 / 15);
    window.show();
    return app.exec();
}
