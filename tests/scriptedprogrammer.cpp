#include "tests/scriptedprogrammer.h"

#include <QFile>

#include <chrono>

using namespace Servo;

ScriptedProgrammer::~ScriptedProgrammer()
{
    stop();
    if (!m_link.isEmpty())
        QFile::remove(m_link);
}

bool ScriptedProgrammer::start()
{
    if (!m_pty.open())
        return false;
    m_running = true;
    m_thread = std::thread([this] { serve(); });
    return true;
}

void ScriptedProgrammer::stop()
{
    m_running = false;
    if (m_thread.joinable())
        m_thread.join();
}

QString ScriptedProgrammer::path() const
{
    return m_link.isEmpty() ? m_pty.slavePath() : m_link;
}

void ScriptedProgrammer::attach(const Values &values)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    block = values;
    m_written = false;
    present = true;
}

void ScriptedProgrammer::detach()
{
    present = false;
}

Values ScriptedProgrammer::held() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return block;
}

bool ScriptedProgrammer::startAt(const QString &linkPath)
{
    m_link = linkPath;
    return replug();
}

void ScriptedProgrammer::unplug()
{
    stop();
    m_pty.close();
    QFile::remove(m_link);
}

bool ScriptedProgrammer::replug()
{
    stop();
    if (!start())
        return false;
    QFile::remove(m_link);
    return QFile::link(m_pty.slavePath(), m_link);
}

void ScriptedProgrammer::serve()
{
    FrameScanner scanner;
    QByteArray late; // lagging: the reply that goes out before the next one
    while (m_running) {
        const QByteArray bytes = m_pty.read(20);
        received += bytes;
        scanner.append(bytes);
        QByteArray frame;
        while (scanner.next(&frame)) {
            requests << frame;
            const Frame f = decodeFrame(frame);
            if (frameKind(f.flags) != FrameKind::Other)
                continue;
            const bool writing = f.flags & Flag::Write;
            (writing ? writes : reads) += 1;
            if (writing && !present)
                ++writesWithoutServo;
            if (lagging && !late.isEmpty()) {
                m_pty.write(late);
                late.clear();
            }
            if (silent || !present)
                continue;
            if (skipRequests > 0) {
                --skipRequests;
                continue;
            }
            std::lock_guard<std::mutex> lock(m_mutex);
            if (writing && unplugOnWrite.exchange(false)) {
                m_pty.closeMaster();
                QFile::remove(m_link);
                m_running = false;
                return;
            }
            if (writing && pullOnWrite.exchange(false)) {
                present = false;
                continue;
            }
            if (writing && writeIgnored)
                continue;
            m_written = m_written || writing;
            if (!writing && m_written && lostReadBacks.fetch_sub(1) > 0)
                continue;
            if (decoys) {
                Values other = startValues();
                other[TorqueGain] = 222;
                m_pty.write(frame + encodeFrame(other, writing ? Flag::ReadReply : Flag::WriteAck));
            }
            if (writing) {
                block = f.values;
                Values ack = f.values;
                if (storeStuck || stuckWrites.fetch_sub(1) > 0)
                    block[stuckField] = stuckValue;
                if (ackStuck)
                    ack[stuckField] = stuckValue;
                if (ackLost)
                    continue;
                if (ackDelayMs > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(int(ackDelayMs)));
                m_pty.write(encodeFrame(ack, Flag::WriteAck));
            } else if (lagging) {
                late = encodeFrame(block, Flag::ReadReply);
            } else {
                m_pty.write(encodeFrame(block, Flag::ReadReply));
            }
        }
    }
}
