// Interrupts, shared part: the flag and the notifiers.
#include "tools/common/interrupt.h"

#include "tools/common/interrupt_p.h"

#include <QMutex>
#include <QVector>

namespace Servo {

std::atomic<bool> interruptFlag{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the interrupt flag must be lock-free");

namespace {

// The notifiers alive, in any thread.
QMutex notifiersLock;
QVector<InterruptNotifier *> notifiers;

} // namespace

bool interruptRequested()
{
    return interruptFlag.load();
}

void notifyInterrupt()
{
    const QMutexLocker lock(&notifiersLock);
    for (InterruptNotifier *notifier : qAsConst(notifiers))
        QMetaObject::invokeMethod(
            notifier, [notifier] { emit notifier->requested(); }, Qt::QueuedConnection);
}

InterruptNotifier::InterruptNotifier(QObject *parent)
    : QObject(parent)
{
    {
        const QMutexLocker lock(&notifiersLock);
        notifiers << this;
    }
    watchInterrupts(this);
}

InterruptNotifier::~InterruptNotifier()
{
    const QMutexLocker lock(&notifiersLock);
    notifiers.removeOne(this);
}

} // namespace Servo
