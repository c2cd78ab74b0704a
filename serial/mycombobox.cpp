#include "serial/mycombobox.h"

#include "serial/simulatorports.h"

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
    // Pseudo-terminals of running servo simulators, for work without hardware.
    const QStringList simulated = Servo::simulatorPorts();
    for (const QString &path : simulated)
        addItem(path);
}

void MyComboBox::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        scanPorts();
    QComboBox::mousePressEvent(event);
}
