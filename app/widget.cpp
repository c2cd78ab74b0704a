#include "app/widget.h"
#include "ui/ui_widget.h"

#include "files/parameterfile.h"
#include "protocol/frame.h"
#include "serial/portsettings.h"

#include <QDateTime>
#include <QFileDialog>
#include <QScrollBar>
#include <QSerialPort>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <array>

namespace {

// Controls in canonical order.
std::array<MySpinBox *, Servo::NumericCount> spinBoxes(const Ui_Widget *ui)
{
    return {ui->spinBox_TorqueGain,
            ui->spinBox_BrakeGain,
            ui->spinBox_IntegralGain,
            ui->spinBox_IntegralSpeed,
            ui->spinBox_MinPulseWidth,
            ui->spinBox_MAXPulseWidth,
            ui->spinBox_Sensitivity,
            ui->spinBox_NeutralPoint,
            ui->spinBox_MAXDuty,
            ui->spinBox_LeftAngleCoefficient,
            ui->spinBox_RightAngleCoefficient};
}

std::array<QCheckBox *, Servo::ParameterCount - Servo::NumericCount> checkBoxes(const Ui_Widget *ui)
{
    return {ui->cB_ReversedRotation, ui->cB_SoftStart, ui->cB_LOCKProtection};
}

std::array<QPushButton *, Servo::NumericCount> minusButtons(const Ui_Widget *ui)
{
    return {ui->pB_TorqueGainMinus,
            ui->pB_BrakeGainMinus,
            ui->pB_IntegralGainMinus,
            ui->pB_IntegralSpeedMinus,
            ui->pB_MinPulseWidthMinus,
            ui->pB_MAXPulseWidthMinus,
            ui->pB_SensitivityMinus,
            ui->pB_NeutralPointMinus,
            ui->pB_MAXDutyMinus,
            ui->pB_LeftAngleCoefficientMinus,
            ui->pB_RightAngleCoefficientMinus};
}

std::array<QPushButton *, Servo::NumericCount> addButtons(const Ui_Widget *ui)
{
    return {ui->pB_TorqueGainAdd,
            ui->pB_BrakeGainAdd,
            ui->pB_IntegralGainAdd,
            ui->pB_IntegralSpeedAdd,
            ui->pB_MinPulseWidthAdd,
            ui->pB_MAXPulseWidthAdd,
            ui->pB_SensitivityAdd,
            ui->pB_NeutralPointAdd,
            ui->pB_MAXDutyAdd,
            ui->pB_LeftAngleCoefficientAdd,
            ui->pB_RightAngleCoefficientAdd};
}

// A reply sets the controls in frame order, the switches right after the
// flags byte.
constexpr Servo::Parameter replyOrder[Servo::ParameterCount] = {
    Servo::TorqueGain,
    Servo::IntegralGain,
    Servo::ReversedRotation,
    Servo::SoftStart,
    Servo::LOCKProtection,
    Servo::LeftAngleCoefficient,
    Servo::Sensitivity,
    Servo::IntegralSpeed,
    Servo::BrakeGain,
    Servo::MinPulseWidth,
    Servo::MAXPulseWidth,
    Servo::MAXDuty,
    Servo::RightAngleCoefficient,
    Servo::NeutralPoint,
};

} // namespace

Widget::Widget(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui_Widget)
    , serialPort(nullptr)
    , timer(nullptr)
    , ok(false)
{
    ui->setupUi(this);
    initSerialPort();
    initSpinBoxes();
    ok = true;

    timer = new QTimer(this);
    connect(
        timer, &QTimer::timeout, this,
        [this] {
            timeString =
                QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        },
        Qt::DirectConnection);
    timer->start(1000);

    resize(600, 676);
    ui->textBrowser_StateShow->document()->setMaximumBlockCount(4);
    connect(serialPort, SIGNAL(readyRead()), this, SLOT(serialDataRead()));
}

Widget::~Widget()
{
    delete ui;
}

void Widget::initSerialPort()
{
    serialPort = new QSerialPort(this);
    Servo::applyLineSettings(serialPort);
    // A pulled USB adapter makes the port report the same error over and over;
    // close it once and say so. A functor keeps this out of the slot table.
    connect(serialPort, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { onPortError(error); });
}

void Widget::onPortError(int error)
{
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError)
        return;
    if (!serialPort->isOpen())
        return;
    const QString name = serialPort->portName();
    serialPort->close();
    showState(name + QStringLiteral(" 连接断开  ") + name + QStringLiteral(" Disconnected"));
}

void Widget::initSpinBoxes()
{
    const auto boxes = spinBoxes(ui);
    const auto minus = minusButtons(ui);
    const auto plus = addButtons(ui);
    for (int i = 0; i < Servo::NumericCount; ++i) {
        connect(plus[i], SIGNAL(clicked()), boxes[i], SLOT(addData()));
        connect(minus[i], SIGNAL(clicked()), boxes[i], SLOT(minusData()));
        const Servo::ParameterInfo &p = Servo::parameterInfo(i);
        boxes[i]->setMaximum(p.maximum);
        boxes[i]->setMinimum(p.minimum);
        boxes[i]->setSingleStep(p.step);
        boxes[i]->setValue(p.start);
    }
}

void Widget::showState(const QString &msg)
{
    ui->textBrowser_StateShow->append(QStringLiteral("[") + timeString + QStringLiteral("] ") +
                                      msg);
}

int Widget::hexChecksum(const QString &text)
{
    return Servo::hexChecksum(text);
}

QString Widget::buildParameterFrame(int command)
{
    const quint8 kind = command == 0 ? 0 : Servo::Flag::Write;
    return Servo::frameToText(Servo::encodeFrame(controlValues(), kind));
}

void Widget::applyParameterFrame(const QString &frameText)
{
    // A pair that is not valid hex counts as 0.
    QByteArray bytes(Servo::FrameSize, '\0');
    for (int i = 0; i < Servo::FrameSize; ++i)
        bytes[i] = static_cast<char>(frameText.mid(2 * i, 2).toUInt(&ok, 16));
    setControlValues(Servo::decodeFrame(bytes).values);
}

Servo::Values Widget::controlValues() const
{
    Servo::Values v{};
    const auto boxes = spinBoxes(ui);
    for (int i = 0; i < Servo::NumericCount; ++i)
        v[i] = boxes[i]->value();
    const auto checks = checkBoxes(ui);
    for (int i = 0; i < int(checks.size()); ++i)
        v[Servo::NumericCount + i] = checks[i]->isChecked() ? 1 : 0;
    return v;
}

void Widget::setControlValues(const Servo::Values &values)
{
    const auto boxes = spinBoxes(ui);
    const auto checks = checkBoxes(ui);
    for (Servo::Parameter p : replyOrder) {
        if (p < Servo::NumericCount)
            boxes[p]->setValue(values[p]);
        else
            checks[p - Servo::NumericCount]->setChecked(values[p] != 0);
    }
}

void Widget::sendFrame(int command)
{
    if (!serialPort->isOpen())
        return;
    const QString text = buildParameterFrame(command);
    serialPort->write(QByteArray::fromHex(text.toLatin1()));
}

void Widget::on_comboBox_Port_textActivated(const QString &arg1)
{
    if (arg1.isEmpty())
        return;
    if (serialPort->isOpen())
        serialPort->close();
    serialPort->setPortName(arg1);
    const bool opened = serialPort->open(QIODevice::ReadWrite);
    const QString name = serialPort->portName();
    if (opened)
        showState(name + QStringLiteral(" 打开成功  ") + name +
                  QStringLiteral(" Open successfully"));
    else
        showState(name + QStringLiteral(" 打开失败  ") + name + QStringLiteral(" Failed to open"));
}

void Widget::on_pB_ReadParameter_clicked()
{
    sendFrame(0);
}

void Widget::on_pB_WriteParameter_clicked()
{
    sendFrame(1);
}

void Widget::on_pB_OpenParameter_clicked()
{
    const QString fileName = QFileDialog::getOpenFileName(
        this, tr("打开参数"), QStringLiteral("/home/"), tr("文本类型 (*.txt)"));
    if (fileName.isEmpty())
        return;
    const Servo::ParsedLine parsed = Servo::readParameterFile(fileName);
    if (parsed.status == Servo::ParsedLine::CannotOpen)
        return;
    if (!parsed.ok()) {
        showState(QStringLiteral("参数载入失败  Loading failed"));
        return;
    }
    // File order is canonical order.
    const auto boxes = spinBoxes(ui);
    for (int i = 0; i < Servo::NumericCount; ++i)
        boxes[i]->setValue(parsed.values[i]);
    const auto checks = checkBoxes(ui);
    for (int i = 0; i < int(checks.size()); ++i)
        checks[i]->setChecked(parsed.values[Servo::NumericCount + i] != 0);
    showState(QStringLiteral("参数载入成功  Loading successful"));
}

void Widget::on_pB_SaveParameter_clicked()
{
    const QString fileName = QFileDialog::getSaveFileName(
        this, tr("保存参数"), QStringLiteral("/home/"), tr("文本类型 (*.txt)"));
    if (fileName.isEmpty())
        return;
    if (Servo::writeParameterFile(fileName, controlValues()))
        showState(QStringLiteral("参数已成功保存  Saved successfully"));
    else
        showState(QStringLiteral("参数保存失败  Save failed"));
}

void Widget::serialDataRead()
{
    // rxBuffer holds, as upper-case hex, the bytes not yet consumed: at most
    // the 19 bytes of an incomplete frame. The scan itself runs on bytes.
    Servo::FrameScanner scanner;
    scanner.append(QByteArray::fromHex(rxBuffer.toLatin1()));
    scanner.append(serialPort->readAll());
    // Status lines of one arrival are appended in one edit of the log, and
    // the lines beyond the last four are dropped inside that edit, so the log
    // is laid out once per arrival, for four lines, instead of once per reply.
    // It still gets every line and keeps the last four.
    QTextDocument *log = ui->textBrowser_StateShow->document();
    QScrollBar *logScroll = ui->textBrowser_StateShow->verticalScrollBar();
    const bool logAtBottom = logScroll->value() >= logScroll->maximum();
    QTextCursor logEdit(log);
    logEdit.beginEditBlock();
    QByteArray frame;
    while (scanner.next(&frame)) {
        const QString text = QString::fromLatin1(frame.toHex().toUpper());
        const quint8 flags = static_cast<quint8>(text.mid(6, 2).toUInt(&ok, 16));
        switch (Servo::frameKind(flags)) {
        case Servo::FrameKind::ReadReply:
            applyParameterFrame(text);
            showState(QStringLiteral("参数读取成功  Reading successful"));
            break;
        case Servo::FrameKind::WriteAck:
            applyParameterFrame(text);
            showState(QStringLiteral("参数写入成功  Write successfully"));
            break;
        case Servo::FrameKind::Other:
            break; // our own request echoed back, or a frame of no interest
        }
    }
    const int excess = log->blockCount() - log->maximumBlockCount();
    if (excess > 0) {
        QTextCursor head(log);
        head.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, excess);
        const QTextCharFormat firstLine =
            head.blockCharFormat(); // as the document's own trimming keeps it
        head.removeSelectedText();
        head.setBlockCharFormat(firstLine);
    }
    logEdit.endEditBlock();
    if (logAtBottom)
        logScroll->setValue(logScroll->maximum());
    rxBuffer = QString::fromLatin1(scanner.pending().toHex().toUpper());
}
