// korvahub_barewindow FILE: the start-up reference for bench_startup. A bare Qt window
// that appends "Window shown" to FILE right after show(), as the real program writes
// it to its run log, and then runs its event loop until it is killed.

#include <QApplication>
#include <QFile>
#include <QWidget>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(1280, 800);
    window.show();
    if (argc > 1) {
        QFile file(QString::fromLocal8Bit(argv[1]));
        if (file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
            file.write("Window shown\n");
    }
    return app.exec();
}
