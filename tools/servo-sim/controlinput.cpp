#include "tools/servo-sim/controlinput.h"

#include "tools/common/interrupt.h"

#include <QByteArray>
#include <QMetaObject>
#include <QPointer>

#include <mutex>
#include <thread>

// The reading thread outlives the object when it waits for input at exit:
// it is detached, and reaches the object only through this, under the lock.
struct ControlInput::Shared
{
    std::mutex lock;
    QPointer<ControlInput> receiver;
};

ControlInput::ControlInput(QObject *parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>())
{
    m_shared->receiver = this;
}

ControlInput::~ControlInput()
{
    const std::lock_guard<std::mutex> guard(m_shared->lock);
    m_shared->receiver = nullptr;
}

void ControlInput::start()
{
    prepareControlInput();
    std::shared_ptr<Shared> shared = m_shared;
    std::thread([shared] {
        auto post = [&shared](const char *method, const QString &text) {
            const std::lock_guard<std::mutex> guard(shared->lock);
            if (!shared->receiver)
                return false;
            if (text.isNull())
                QMetaObject::invokeMethod(shared->receiver, method, Qt::QueuedConnection);
            else
                QMetaObject::invokeMethod(shared->receiver, method, Qt::QueuedConnection,
                                          Q_ARG(QString, text));
            return true;
        };
        Servo::StandardInput input;
        input.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        QByteArray pending;
        char buffer[4096];
        for (;;) {
            const qint64 n = input.read(buffer, sizeof buffer);
            if (n <= 0)
                break;
            pending.append(buffer, int(n));
            int end;
            while ((end = pending.indexOf('\n')) >= 0) {
                QByteArray text = pending.left(end);
                pending.remove(0, end + 1);
                if (text.endsWith('\r'))
                    text.chop(1);
                if (!post("line", QString::fromUtf8(text)))
                    return;
            }
        }
        if (!pending.isEmpty() && !post("line", QString::fromUtf8(pending)))
            return;
        post("ended", QString());
    }).detach();
}
