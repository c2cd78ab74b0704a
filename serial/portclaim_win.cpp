// The port claim on Windows: the port is opened once with CreateFileW to
// tell what it is and why it cannot be had.
#include "serial/portclaim.h"

#include "serial/portclaim_p.h"
#include "serial/portsettings.h"

#include <QDir>
#include <QRegularExpression>

#include <windows.h>

namespace Servo {

QString portDevicePath(const QString &port)
{
    return port;
}

QString portIdentity(const QString &device)
{
    return QString(device).remove(QLatin1String("\\\\.\\")).toUpper();
}

QString permissionOrBusySentence()
{
    return QStringLiteral("permission denied or the port is busy (another program holds it)");
}

namespace {

// The errors of CreateFileW that mean nothing is there by that name.
bool isMissing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
        error == ERROR_BAD_NETPATH || error == ERROR_INVALID_NAME;
}

// The name CreateFile takes: COM ports (any from COM10 up) as \\.\COMn; a
// path stays a path.
QString windowsDeviceName(const QString &port)
{
    static const QRegularExpression com(QStringLiteral("^COM[0-9]+$"),
                                        QRegularExpression::CaseInsensitiveOption);
    return com.match(port).hasMatch() ? QStringLiteral("\\\\.\\") + port
                                      : QDir::toNativeSeparators(port);
}

QString systemMessage(DWORD error)
{
    wchar_t *text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString message = text ? QString::fromWCharArray(text).trimmed() : QString();
    LocalFree(text);
    return message.isEmpty() ? QStringLiteral("system error %1").arg(error)
                             : QStringLiteral("%1 (system error %2)").arg(message).arg(error);
}

// Why CreateFile refused a port, as a sentence.
QString openProblem(DWORD error)
{
    if (isMissing(error))
        return missingPortSentence();
    switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return QStringLiteral(
            "the port is busy: another program holds it (Windows lets one program at a time "
            "open a port)");
    case ERROR_ACCESS_DENIED:
        // What Windows says both for a port another program holds and for
        // one this user may not open.
        return QStringLiteral(
            "access denied: another program holds the port (Windows lets one program at a time "
            "open a port), or this user may not use it");
    default:
        return systemMessage(error);
    }
}

} // namespace

void PortClaim::release()
{
    m_fd = -1;
}

QString PortClaim::busyProblem() const
{
    return openProblem(ERROR_ACCESS_DENIED);
}

QString PortClaim::claimDevice()
{
    // Windows opens a port for one program at a time: it is opened here only
    // to tell what it is and why it cannot be had, and closed again for the
    // serial port to open.
    const QString device = windowsDeviceName(m_requested);
    const DWORD attributes = GetFileAttributesW(reinterpret_cast<const wchar_t *>(device.utf16()));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return notSerialPort(QStringLiteral("a folder"));
    const HANDLE h =
        CreateFileW(reinterpret_cast<const wchar_t *>(device.utf16()), GENERIC_READ | GENERIC_WRITE,
                    0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        m_missing = isMissing(error);
        return openProblem(error);
    }
    DCB dcb;
    dcb.DCBlength = sizeof dcb;
    const DWORD type = GetFileType(h);
    const bool isPort = type == FILE_TYPE_CHAR && GetCommState(h, &dcb);
    CloseHandle(h);
    if (!isPort)
        return notSerialPort(type == FILE_TYPE_DISK ? QStringLiteral("a regular file")
                                 : type == FILE_TYPE_PIPE
                                 ? QStringLiteral("a pipe")
                                 : QStringLiteral("a device that is not a COM port"));
    return QString();
}

} // namespace Servo
