#ifndef SLOTCARD_H
#define SLOTCARD_H

#include "bench/bench.h"

#include <QFrame>

class QCheckBox;
class QLabel;

// One programmer's card: its port, a large state tile (a colour and the
// state's words, Chinese and English, so that colour is never alone), the
// verified and failed counts, the last servo's result and time, and a
// switch that turns the slot off.
namespace Servo {

class SlotCard : public QFrame
{
    Q_OBJECT

public:
    explicit SlotCard(const QString &port, QWidget *parent = nullptr);

    QString port() const { return m_port; }
    void display(const SlotStatus &status);
    bool isSwitchedOn() const;
    void setSwitchedOn(bool on);

    // The tile's words for a state ("验证通过\nverified"), and its colour.
    static QString stateText(SlotState state);
    static QColor stateColour(SlotState state);

signals:
    void switched(const QString &port, bool on);

private:
    QString m_port;
    QLabel *m_tile;
    QLabel *m_reason;
    QLabel *m_counts;
    QLabel *m_last;
    QCheckBox *m_switch;
};

} // namespace Servo

#endif // SLOTCARD_H
