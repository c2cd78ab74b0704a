#ifndef PSEUDOTERMINAL_H
#define PSEUDOTERMINAL_H

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair standing in for a USB serial adapter: whoever holds
// the master side plays the servo programmer, and a serial port object opens
// the slave side by its path. Unix only; on other systems open() fails.
//
// The pair keeps a descriptor of its own on the slave side, so that the
// master does not see a hang-up each time the port on the other end is
// closed. closeMaster() pulls the "adapter": the slave side then reports I/O
// errors.
class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool open(QString *errorString = nullptr);
    bool isOpen() const { return m_master >= 0; }
    int masterFd() const { return m_master; }
    QString slavePath() const { return m_slavePath; }

    // Writes all of data to the master side, waiting for room; false on an
    // error.
    bool write(const QByteArray &data);
    // Writes what fits now without waiting: the count written (0 when the
    // line is full), or -1 on an error, described in *errorString.
    qint64 writeSome(const char *data, qint64 size, QString *errorString = nullptr);
    // What has arrived, without waiting. When the other side is gone for good
    // (end of file or an error), *lostReason says why; it stays empty
    // otherwise.
    QByteArray readAvailable(QString *lostReason = nullptr);
    // Whatever the other side has sent, waiting up to timeoutMs for the first
    // byte (0 = do not wait).
    QByteArray read(int timeoutMs = 0);
    // Reads until size bytes have come or timeoutMs has passed.
    QByteArray readExactly(int size, int timeoutMs);

    void closeMaster();
    void close();

private:
    int m_master = -1;
    int m_slaveHold = -1;
    QString m_slavePath;
};

#endif // PSEUDOTERMINAL_H
