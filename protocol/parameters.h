#ifndef PARAMETERS_H
#define PARAMETERS_H

#include <QString>
#include <QStringList>
#include <array>

// The servo's configuration block: eleven integers and three switches, in the
// canonical order used by the parameter file and the stepper set-up. The wire
// frame has an order of its own (see frame.h).
namespace Servo {

enum Parameter {
    TorqueGain,
    BrakeGain,
    IntegralGain,
    IntegralSpeed,
    MinPulseWidth,
    MAXPulseWidth,
    Sensitivity,
    NeutralPoint,
    MAXDuty,
    LeftAngleCoefficient,
    RightAngleCoefficient,
    ReversedRotation,
    SoftStart,
    LOCKProtection,
};

constexpr int ParameterCount = 14;
constexpr int NumericCount = 11; // the first eleven are spin boxes, the rest switches

struct ParameterInfo
{
    const char *stem; // object name stem: spinBox_<stem>, cB_<stem>
    const char *english; // English caption
    const char *chinese; // Chinese caption (UTF-8)
    const char *unit; // unit as a user reads it, empty when none
    int minimum;
    int maximum;
    int step;
    int start;
    bool isSwitch;
};

const ParameterInfo &parameterInfo(int index);

// Values in canonical order. Switches hold 0 or 1. A decoded frame or a parsed
// file may carry values outside a field's range; they are clamped only where a
// control or a device takes them.
using Values = std::array<int, ParameterCount>;

Values startValues();
Values clampedToRanges(const Values &values);
bool inRange(int index, int value);

// The names people and scripts use. The key is the stem ("TorqueGain"): the
// JSON, the log and the parameter tables name a parameter by it. The caption
// is the English caption ("Torque Gain").
QString parameterKey(int index);
QString parameterCaption(int index);
// The fourteen keys in canonical order.
QStringList parameterKeys();
// "500..2500": the lowest and highest value (0..1 for a switch).
QString parameterRange(int index);

// Index of the parameter whose key or English caption matches name, in any
// case, with spaces, '_' and '-' ignored ("torque gain", "TORQUEGAIN"), or -1.
int parameterIndex(const QString &name);

// A job's fingerprint: eight lower-case hexadecimal digits of the SHA-256 of
// its fourteen values, written in decimal and joined by commas. Two files
// with the same values have the same fingerprint, whatever their spacing.
QString jobFingerprint(const Values &values);

} // namespace Servo

#endif // PARAMETERS_H
