#ifndef WIDGET_H
#define WIDGET_H

#include "protocol/parameters.h"

#include <QString>
#include <QWidget>

class QSerialPort;
class QTimer;
class Ui_Widget;

// The one window: port selector, the fourteen parameter controls, the four
// actions and the status log. The parameter values live in the controls.
class Widget : public QWidget
{
    Q_OBJECT

public:
    explicit Widget(QWidget *parent = nullptr);
    ~Widget() override;

private slots:
    void on_comboBox_Port_textActivated(const QString &arg1);
    void on_pB_ReadParameter_clicked();
    void on_pB_WriteParameter_clicked();
    void on_pB_OpenParameter_clicked();
    void on_pB_SaveParameter_clicked();
    void serialDataRead();

private:
    void initSerialPort();
    void initSpinBoxes();
    void showState(const QString &msg);
    int hexChecksum(const QString &text);
    QString buildParameterFrame(int command);
    void applyParameterFrame(const QString &frameText);

    void sendFrame(int command);
    Servo::Values controlValues() const;
    void setControlValues(const Servo::Values &values);
    void onPortError(int error);

    Ui_Widget *ui;
    QSerialPort *serialPort;
    QTimer *timer;
    QString timeString;
    QString rxBuffer;
    bool ok;
};

#endif // WIDGET_H
