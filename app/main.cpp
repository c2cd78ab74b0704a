#include "app/widget.h"

#include <QApplication>
#include <QFont>

int main(int argc, char *argv[])
{
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication a(argc, argv);

    QFont font = QApplication::font();
    font.setFamily(QStringLiteral("微软雅黑"));
    font.setPointSize(8);
    QApplication::setFont(font);

    Widget w;
    w.show();
    return a.exec();
}
