#include "protocol/parameters.h"

#include <QCryptographicHash>

#include <algorithm>

namespace Servo {

namespace {

const ParameterInfo table[ParameterCount] = {
    {"TorqueGain", "Torque Gain", "力矩感度(0-255)", "", 0, 255, 1, 0, false},
    {"BrakeGain", "Brake Gain", "刹车感度(0-255)", "", 0, 255, 1, 0, false},
    {"IntegralGain", "Integral Gain", "积分感度(0-255)", "", 0, 255, 1, 0, false},
    {"IntegralSpeed", "Integral Speed", "积分速度(0-255 *3ms)", "x3 ms", 0, 255, 1, 0, false},
    {"MinPulseWidth", "Min Pulse Width", " 最小位置(us)", "us", 500, 2500, 1, 500, false},
    {"MAXPulseWidth", "MAX Pulse Width", "最大位置(us)", "us", 500, 2500, 1, 2500, false},
    {"Sensitivity", "Sensitivity", "灵敏度(us)", "us", 0, 50, 1, 0, false},
    {"NeutralPoint", "Neutral Point", "中点位置(500-2500us)", "us", 500, 2500, 1, 1500, false},
    {"MAXDuty", "MAX Duty", "最大占空比(0-399)", "", 0, 399, 1, 0, false},
    {"LeftAngleCoefficient", "Left Angle Coefficient", "大端角度比例(0-255)", "", 0, 255, 1, 0,
     false},
    {"RightAngleCoefficient", "Right Angle Coefficient", "大端角度比例(0-255)", "", 0, 255, 1, 0,
     false},
    {"ReversedRotation", "Reversed Rotation", "反向旋转", "", 0, 1, 1, 0, true},
    {"SoftStart", "Soft Start", "缓启动开关", "", 0, 1, 1, 0, true},
    {"LOCKProtection", "LOCK Protection", "堵转保护开关", "", 0, 1, 1, 0, true},
};

QString squeezed(const QString &name)
{
    QString out;
    for (QChar c : name) {
        if (c != QLatin1Char(' ') && c != QLatin1Char('_') && c != QLatin1Char('-'))
            out.append(c.toLower());
    }
    return out;
}

} // namespace

const ParameterInfo &parameterInfo(int index)
{
    Q_ASSERT(index >= 0 && index < ParameterCount);
    return table[index];
}

Values startValues()
{
    Values v{};
    for (int i = 0; i < ParameterCount; ++i)
        v[i] = table[i].start;
    return v;
}

Values clampedToRanges(const Values &values)
{
    Values v = values;
    for (int i = 0; i < ParameterCount; ++i) {
        const ParameterInfo &p = table[i];
        v[i] = p.isSwitch ? (v[i] != 0 ? 1 : 0) : std::clamp(v[i], p.minimum, p.maximum);
    }
    return v;
}

bool inRange(int index, int value)
{
    const ParameterInfo &p = parameterInfo(index);
    return value >= p.minimum && value <= p.maximum;
}

QString parameterKey(int index)
{
    return QString::fromLatin1(parameterInfo(index).stem);
}

QString parameterCaption(int index)
{
    return QString::fromLatin1(parameterInfo(index).english);
}

QStringList parameterKeys()
{
    QStringList keys;
    for (int i = 0; i < ParameterCount; ++i)
        keys << parameterKey(i);
    return keys;
}

QString parameterRange(int index)
{
    return QStringLiteral("%1..%2")
        .arg(parameterInfo(index).minimum)
        .arg(parameterInfo(index).maximum);
}

int parameterIndex(const QString &name)
{
    const QString key = squeezed(name);
    if (key.isEmpty())
        return -1;
    for (int i = 0; i < ParameterCount; ++i) {
        if (squeezed(QString::fromLatin1(table[i].stem)) == key ||
            squeezed(QString::fromLatin1(table[i].english)) == key)
            return i;
    }
    return -1;
}

QString jobFingerprint(const Values &values)
{
    QByteArray text;
    for (int i = 0; i < ParameterCount; ++i) {
        if (i > 0)
            text += ',';
        text += QByteArray::number(values[i]);
    }
    const QByteArray digest = QCryptographicHash::hash(text, QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.left(4).toHex());
}

} // namespace Servo
