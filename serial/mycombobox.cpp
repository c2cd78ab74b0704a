#include "serial/mycombobox.h"

#include "serial/portlist.h"

#include <QMouseEvent>

MyComboBox::MyComboBox(QWidget *parent)
    : QComboBox(parent)
{
    scanPorts();
}

void MyComboBox::scanPorts()
{
    clear();
    addItem(QString());
    // The system's ports, then the pseudo-terminals of running servo
    // simulators, for work without hardware.
    const QVector<Servo::PresentPort> ports = Servo::presentPorts();
    for (const Servo::PresentPort &port : ports)
        addItem(port.name);
}

void MyComboBox::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        scanPorts();
    QComboBox::mousePressEvent(event);
}
