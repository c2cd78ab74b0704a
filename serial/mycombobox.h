#ifndef MYCOMBOBOX_H
#define MYCOMBOBOX_H

#include <QComboBox>

class QMouseEvent;

// Port selector: an empty first entry, then the serial ports present. The
// list is rebuilt when the selector is created and on every left press,
// before the pop-up opens, so an adapter plugged in later shows up. The
// pseudo-terminals of running servo simulators follow the real ports.
class MyComboBox : public QComboBox
{
    Q_OBJECT

public:
    explicit MyComboBox(QWidget *parent);

    void scanPorts();

protected:
    void mousePressEvent(QMouseEvent *event) override;
};

#endif // MYCOMBOBOX_H
