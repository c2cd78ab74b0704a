#include "benchwindow/slotcard.h"

#include <QCheckBox>
#include <QColor>
#include <QLabel>
#include <QVariant>
#include <QVBoxLayout>

namespace Servo {

namespace {

const char *chineseWord(SlotState state)
{
    switch (state) {
    case SlotState::Off:
        return "已关闭";
    case SlotState::Empty:
        return "空";
    case SlotState::Arrived:
        return "发现舵机";
    case SlotState::Programming:
        return "写入中";
    case SlotState::Verified:
        return "验证通过";
    case SlotState::AlreadyHeld:
        return "已是本参数";
    case SlotState::Failed:
        return "失败";
    case SlotState::PortLost:
        return "编程器已拔出";
    }
    return "";
}

} // namespace

QString SlotCard::stateText(SlotState state)
{
    return QString::fromUtf8(chineseWord(state)) + QLatin1Char('\n') + slotStateWord(state);
}

QColor SlotCard::stateColour(SlotState state)
{
    switch (state) {
    case SlotState::Off:
        return QColor(40, 40, 40);
    case SlotState::Empty:
        return QColor(90, 90, 90);
    case SlotState::Arrived:
        return QColor(190, 140, 0);
    case SlotState::Programming:
        return QColor(5, 136, 218);
    case SlotState::Verified:
    case SlotState::AlreadyHeld:
        return QColor(30, 140, 60);
    case SlotState::Failed:
        return QColor(200, 40, 40);
    case SlotState::PortLost:
        return QColor(120, 60, 150);
    }
    return QColor();
}

SlotCard::SlotCard(const QString &port, QWidget *parent)
    : QFrame(parent)
    , m_port(port)
    , m_tile(new QLabel(this))
    , m_reason(new QLabel(this))
    , m_counts(new QLabel(this))
    , m_last(new QLabel(this))
    , m_switch(new QCheckBox(QStringLiteral("启用  On"), this))
{
    setProperty("look", QStringLiteral("card"));
    setObjectName(QStringLiteral("card:") + port);
    auto *layout = new QVBoxLayout(this);
    auto *portLabel = new QLabel(port, this);
    portLabel->setObjectName(QStringLiteral("port"));
    QFont bold = portLabel->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.25);
    portLabel->setFont(bold);
    portLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long name (a simulator's link in a deep folder) is cut, not the
    // card widened; the whole name is its tool tip.
    portLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    portLabel->setToolTip(port);

    m_tile->setObjectName(QStringLiteral("tile"));
    m_tile->setAlignment(Qt::AlignCenter);
    m_tile->setMinimumHeight(96);
    QFont large = m_tile->font();
    large.setBold(true);
    large.setPointSizeF(large.pointSizeF() * 2.5);
    m_tile->setFont(large);
    m_reason->setObjectName(QStringLiteral("reason"));
    m_reason->setWordWrap(true);
    m_counts->setObjectName(QStringLiteral("counts"));
    m_last->setObjectName(QStringLiteral("last"));
    m_switch->setObjectName(QStringLiteral("switch"));
    m_switch->setChecked(true);
    connect(m_switch, &QCheckBox::toggled, this, [this](bool on) { emit switched(m_port, on); });

    layout->addWidget(portLabel);
    layout->addWidget(m_tile);
    layout->addWidget(m_reason);
    layout->addWidget(m_counts);
    layout->addWidget(m_last);
    layout->addWidget(m_switch);
    SlotStatus empty;
    empty.port = port;
    display(empty);
}

void SlotCard::display(const SlotStatus &status)
{
    const QColor colour = stateColour(status.state);
    const QColor text = status.state == SlotState::Off ? QColor(170, 170, 170) : Qt::white;
    m_tile->setText(stateText(status.state));
    m_tile->setProperty("state", slotStateWord(status.state));
    m_tile->setStyleSheet(QStringLiteral("background-color: %1; color: %2; border-radius: 10px;")
                              .arg(colour.name(), text.name()));
    // A failure says why; the reason stays under the tile until the next servo.
    const bool failed = status.state == SlotState::Failed;
    m_reason->setText(failed ? QStringLiteral("原因  Reason: %1%2")
                                   .arg(status.lastResult,
                                        status.lastReason.isEmpty()
                                            ? QString()
                                            : QStringLiteral(", ") + status.lastReason)
                             : QString());
    m_reason->setVisible(failed);
    m_counts->setText(QStringLiteral("成功  Verified: %1     失败  Failed: %2")
                          .arg(status.verified + status.alreadyHeld)
                          .arg(status.failed));
    m_counts->setProperty("verified", status.verified + status.alreadyHeld);
    m_counts->setProperty("failed", status.failed);
    if (status.lastElapsedMs >= 0)
        m_last->setText(QStringLiteral("上一个  Last: %1, %2 s")
                            .arg(status.lastResult)
                            .arg(status.lastElapsedMs / 1000.0, 0, 'f', 2));
    else
        m_last->setText(QStringLiteral("上一个  Last: —"));
}

bool SlotCard::isSwitchedOn() const
{
    return m_switch->isChecked();
}

void SlotCard::setSwitchedOn(bool on)
{
    m_switch->setChecked(on);
}

} // namespace Servo
