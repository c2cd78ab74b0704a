#include "app/widget.h"
#include "ui/applicationfont.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication a(argc, argv);

    Servo::installApplicationFont();

    Widget w;
    w.show();
    return a.exec();
}
