#include "tests/testline.h"

#ifdef Q_OS_WIN
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QThread>

#include <windows.h>

#include <system_error>

namespace {

// Windows' name of a Unix path: Z: is the Unix root in every Wine prefix.
QString fromUnix(const QString &path)
{
    return QStringLiteral("Z:") + path;
}

QString dosDevices()
{
    return qEnvironmentVariable("WINEPREFIX") + QStringLiteral("/dosdevices");
}

QString lastError()
{
    return QString::fromStdString(std::system_category().message(int(GetLastError())));
}

const wchar_t SerialComm[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

// Lists a port where the system keeps its serial ports, as a virtual port
// driver does, so that the port lists show it.
void registerPort(const QString &port, bool add)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, SerialComm, 0, nullptr, REG_OPTION_VOLATILE,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    const std::wstring name = L"\\Device\\ServoTestLine" + port.mid(3).toStdWString();
    const std::wstring value = port.toStdWString();
    if (add)
        RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                       DWORD((value.size() + 1) * sizeof(wchar_t)));
    else
        RegDeleteValueW(key, name.c_str());
    RegCloseKey(key);
}

// Starts a Linux program, which Wine runs natively, and leaves it running.
// Wine reports such a start as a success but has no handles for it: the
// process and thread handles it returns are what its own stack held, often
// the number of a handle this process has closed and since given to another
// object (an event, a pipe, a thread). QProcess::startDetached closes both,
// and so closed that object; Qt's waits on it then failed, or its pipe reader
// read from what took the number next. Nothing returned here is used, and
// CREATE_SUSPENDED keeps Wine from resuming the "thread" it returns.
bool startLinuxProgram(const QString &program, const QStringList &arguments)
{
    QString commandLine = QLatin1Char('"') + QDir::toNativeSeparators(program) + QLatin1Char('"');
    for (const QString &argument : arguments)
        commandLine += QStringLiteral(" \"%1\"").arg(argument);
    std::wstring command = commandLine.toStdWString();
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION unused = {};
    return CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                          nullptr, &startup, &unused);
}

} // namespace

namespace {

// The version of the Wine this program runs under ("10.0"); empty when none.
QString wineVersion()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto get = ntdll ? reinterpret_cast<const char *(*)()>(reinterpret_cast<void *>(
                                 GetProcAddress(ntdll, "wine_get_version")))
                           : nullptr;
    return get ? QString::fromLatin1(get()) : QString();
}

} // namespace

bool underWine()
{
    return !wineVersion().isEmpty();
}

QString TestLine::unavailableReason()
{
    if (qEnvironmentVariable("SERVO_COM_PAIR").split(QLatin1Char(',')).size() == 2)
        return QString();
    if (!underWine())
        return QStringLiteral(
            "no pair of joined COM ports: set SERVO_COM_PAIR=COMa,COMb (e.g. a com0com pair)");
    // Under Wine 8, a wait for received characters on a COM port never
    // returns, so a serial port hears no reply; Wine 10 is the first seen
    // to read one.
    if (wineVersion().section(QLatin1Char('.'), 0, 0).toInt() < 10)
        return QStringLiteral("Wine %1 is older than 10.0, the first seen to read a COM port")
            .arg(wineVersion());
    if (qEnvironmentVariable("WINEPREFIX").isEmpty() ||
        qEnvironmentVariable("SERVO_PTYPAIR").isEmpty())
        return QStringLiteral("under Wine, a pair of COM ports needs WINEPREFIX and SERVO_PTYPAIR "
                              "(tests/wine/ptypair)");
    return QString();
}

TestLine::~TestLine()
{
    close();
}

bool TestLine::openPair(QString *errorString)
{
    close();
    QString error = unavailableReason();
    const QStringList given = qEnvironmentVariable("SERVO_COM_PAIR").split(QLatin1Char(','));
    if (error.isEmpty() && given.size() == 2) {
        m_port = given.at(0).trimmed();
        m_peer = given.at(1).trimmed();
        return true;
    }
    // Under Wine: the next free pair from COM20 up, reserved by its run file.
    // A program does not get the names of a pair it has closed again while
    // others are left: Wine may still serve the closed line under them.
    static int next = 20;
    for (int tried = 0; error.isEmpty() && m_control.isEmpty() && tried < 115; ++tried, next += 2) {
        if (next >= 250)
            next = 20;
        const int n = next;
        const QString base = dosDevices() + QStringLiteral("/com%1").arg(n);
        QFile run(fromUnix(base + QStringLiteral(".run")));
        if (QFileInfo::exists(fromUnix(base)) ||
            !run.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            continue;
        run.close();
        QFile::remove(fromUnix(base + QStringLiteral(".pull")));
        const QString peer = dosDevices() + QStringLiteral("/com%1").arg(n + 1);
        if (!startLinuxProgram(fromUnix(qEnvironmentVariable("SERVO_PTYPAIR")), {base, peer})) {
            error = QStringLiteral("cannot start %1").arg(qEnvironmentVariable("SERVO_PTYPAIR"));
            QFile::remove(run.fileName());
            break;
        }
        m_control = fromUnix(base);
        m_port = QStringLiteral("COM%1").arg(n);
        m_peer = QStringLiteral("COM%1").arg(n + 1);
        const QDeadlineTimer deadline(20000);
        while (!QFileInfo::exists(m_control + QStringLiteral(".ready")) && !deadline.hasExpired())
            QThread::msleep(20);
        if (!QFileInfo::exists(m_control + QStringLiteral(".ready")))
            error = QStringLiteral("ptypair made no pair %1, %2").arg(m_port, m_peer);
        registerPort(m_port, true);
        registerPort(m_peer, true);
    }
    if (error.isEmpty() && m_control.isEmpty())
        error = QStringLiteral("no free pair of COM port numbers");
    if (!error.isEmpty()) {
        if (errorString)
            *errorString = error;
        close();
        return false;
    }
    return true;
}

bool TestLine::open(QString *errorString)
{
    if (!openPair(errorString))
        return false;
    const std::wstring device = (QStringLiteral("\\\\.\\") + m_peer).toStdWString();
    HANDLE h = CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        if (errorString)
            *errorString = QStringLiteral("cannot open %1: %2").arg(m_peer, lastError());
        close();
        return false;
    }
    DCB dcb;
    dcb.DCBlength = sizeof dcb;
    if (GetCommState(h, &dcb)) { // raw 8 bits, no flow control, at the programmer's rate
        dcb.BaudRate = 111100;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = TWOSTOPBITS;
        dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = dcb.fInX = FALSE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        SetCommState(h, &dcb);
    }
    COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, 0, 0}; // reads return what is there
    SetCommTimeouts(h, &timeouts);
    m_peerHandle = h;
    return true;
}

bool TestLine::write(const QByteArray &data)
{
    DWORD done = 0;
    for (int at = 0; at < data.size(); at += int(done)) {
        if (!m_peerHandle ||
            !WriteFile(m_peerHandle, data.constData() + at, DWORD(data.size() - at), &done,
                       nullptr))
            return false;
    }
    return true;
}

QByteArray TestLine::readAvailable(QString *lostReason)
{
    QByteArray out;
    DWORD errors = 0;
    COMSTAT status;
    if (!m_peerHandle || !ClearCommError(m_peerHandle, &errors, &status)) {
        if (lostReason)
            *lostReason = m_peerHandle ? lastError() : QStringLiteral("not open");
        return out;
    }
    if (status.cbInQue > 0) {
        out.resize(int(status.cbInQue));
        DWORD got = 0;
        if (!ReadFile(m_peerHandle, out.data(), DWORD(out.size()), &got, nullptr)) {
            if (lostReason)
                *lostReason = lastError();
            got = 0;
        }
        out.resize(int(got));
    }
    return out;
}

QByteArray TestLine::read(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QByteArray out = readAvailable();
    while (out.isEmpty() && !deadline.hasExpired() && m_peerHandle) {
        QThread::msleep(2);
        out = readAvailable();
    }
    return out;
}

QByteArray TestLine::readExactly(int size, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QByteArray out;
    while (out.size() < size && !deadline.hasExpired() && m_peerHandle) {
        const QByteArray more = readAvailable();
        if (more.isEmpty())
            QThread::msleep(2);
        out += more;
    }
    return out;
}

void TestLine::closeMaster()
{
    if (m_control.isEmpty())
        return;
    QFile pull(m_control + QStringLiteral(".pull"));
    pull.open(QIODevice::WriteOnly);
}

void TestLine::close()
{
    if (m_peerHandle)
        CloseHandle(m_peerHandle);
    m_peerHandle = nullptr;
    if (!m_control.isEmpty()) {
        registerPort(m_port, false);
        registerPort(m_peer, false);
        // ptypair removes the links and ends when the run file is gone.
        QFile::remove(m_control + QStringLiteral(".run"));
        const QDeadlineTimer deadline(5000);
        while (QFileInfo::exists(m_control + QStringLiteral(".ready")) && !deadline.hasExpired())
            QThread::msleep(10);
    }
    m_control.clear();
    m_port.clear();
    m_peer.clear();
}

#endif // Q_OS_WIN

#ifndef Q_OS_WIN
bool underWine()
{
    return false;
}
#endif
