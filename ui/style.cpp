#include "ui/style.h"

namespace Servo {

QString toolStyleSheet()
{
    return QStringLiteral(R"(
QWidget[look="window"] { background-color: rgb(0, 0, 0); }
QFrame[look="panel"] { background-color: rgb(46, 46, 46); border-radius: 15px; }
QFrame[look="card"] { background-color: rgb(66, 66, 66); border-radius: 10px; }
QLabel { color: rgb(255, 255, 255); background: transparent; }
QCheckBox { color: rgb(255, 255, 255); background: transparent; }
QCheckBox::indicator { border: 0px solid #FFFFFF; width: 25px; height: 25px; }
QCheckBox::indicator:unchecked { image: url(:/ICON/005_.png); }
QCheckBox::indicator:checked { image: url(:/ICON/006_.png); }
QLabel[look="field"] {
    background-color: rgb(36, 36, 36); border: 1px solid #242424; border-radius: 3px;
    padding: 2px 4px;
}
QPushButton {
    color: rgb(255, 255, 255); border-radius: 5px; background-color: rgb(5, 136, 218);
    padding: 4px 10px;
}
QPushButton[look="fileButton"] { background-color: rgb(6, 91, 172); }
QPushButton:disabled { background-color: rgb(90, 90, 90); color: rgb(170, 170, 170); }
QLineEdit {
    color: rgb(255, 255, 255); background-color: rgb(66, 66, 68); border-radius: 5px;
    padding: 3px;
}
QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; border: none; }
)");
}

} // namespace Servo
