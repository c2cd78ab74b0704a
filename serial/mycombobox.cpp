#include "mycombobox.h"

#include <QMouseEvent>
#include <QSerialPortInfo>

MyComboBox::MyComboBox(QWidget *parent)
    : QComboBox(parent)
{
    scanPorts();
}

void MyComboBox::scanPorts()
{
    clear();
    addItem(QString());
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        addItem(info.portName());
}

void MyComboBox::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        scanPorts();
    QComboBox::mousePressEvent(event);
}
