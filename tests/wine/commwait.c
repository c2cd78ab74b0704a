/* Checks the two things that Qt's serial port on Windows relies on to hear
 * incoming characters, on a COM port where a servo programmer (servo-sim)
 * answers:
 *
 *     commwait.exe COM7
 *
 * Qt waits for EV_RXCHAR with NtDeviceIoControlFile(IOCTL_SERIAL_WAIT_ON_MASK)
 * on a port opened for overlapped I/O, with no event handle and a completion
 * routine (an APC). On Windows that call returns at once (pending), and the
 * routine runs when a character arrives. Prints what happened and exits with
 * 0 when both hold, 1 when one does not, 2 when the port cannot be used. */
#include <windows.h>
#include <winternl.h>
#include <stdio.h>

#define WAIT_ON_MASK CTL_CODE(FILE_DEVICE_SERIAL_PORT, 18, METHOD_BUFFERED, FILE_ANY_ACCESS)

typedef NTSTATUS(NTAPI *IoControl)(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, ULONG,
                                   PVOID, ULONG, PVOID, ULONG);

static IoControl ioControl;
static HANDLE port;
static volatile LONG routines;

/* A read request in the servo programmer's frame: header, start values, checksum, trailer. */
static const unsigned char request[20] = {0x55, 0,    0,    0, 0, 0, 0,    0,    0,    0xF4,
                                          0x01, 0xC4, 0x09, 0, 0, 0, 0xDC, 0x05, 0xA3, 0xAA};

static void NTAPI completed(PVOID context, PIO_STATUS_BLOCK io, ULONG reserved)
{
    (void)context;
    (void)io;
    (void)reserved;
    InterlockedIncrement(&routines);
}

static int sendRequest(void)
{
    OVERLAPPED o = {0};
    DWORD n = 0;
    o.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (!WriteFile(port, request, sizeof request, NULL, &o) && GetLastError() != ERROR_IO_PENDING)
        return 0;
    return GetOverlappedResult(port, &o, &n, TRUE) && n == sizeof request;
}

static DWORD WINAPI waitWithoutEvent(LPVOID unused)
{
    IO_STATUS_BLOCK io;
    DWORD mask = 0;
    (void)unused;
    ioControl(port, NULL, completed, NULL, &io, WAIT_ON_MASK, NULL, 0, &mask, sizeof mask);
    return 0;
}

int main(int argc, char **argv)
{
    char path[64];
    int faults = 0;
    if (argc != 2) {
        fprintf(stderr, "usage: commwait COMn\n");
        return 2;
    }
    snprintf(path, sizeof path, "\\\\.\\%s", argv[1]);
    ioControl =
        (IoControl)(void *)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeviceIoControlFile");
    port = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, NULL);
    if (!ioControl || port == INVALID_HANDLE_VALUE || !SetCommMask(port, EV_RXCHAR)) {
        fprintf(stderr, "commwait: cannot open %s (error %lu)\n", argv[1], GetLastError());
        return 2;
    }

    /* 1. No event handle, nothing on the line yet. */
    HANDLE thread = CreateThread(NULL, 0, waitWithoutEvent, NULL, 0, NULL);
    const int blocked = WaitForSingleObject(thread, 1000) == WAIT_TIMEOUT;
    printf("wait without an event handle: %s\n",
           blocked ? "blocks the caller until a character arrives (Windows returns at once)"
                   : "returns at once");
    faults += blocked;
    if (!sendRequest()) {
        fprintf(stderr, "commwait: cannot write to %s\n", argv[1]);
        return 2;
    }
    WaitForSingleObject(thread, 5000);
    Sleep(300); /* the whole reply */
    PurgeComm(port, PURGE_RXCLEAR);

    /* 2. With an event handle, so that nothing blocks: is the routine called? */
    IO_STATUS_BLOCK io;
    DWORD mask = 0;
    HANDLE event = CreateEventW(NULL, TRUE, FALSE, NULL);
    routines = 0;
    const NTSTATUS status =
        ioControl(port, event, completed, NULL, &io, WAIT_ON_MASK, NULL, 0, &mask, sizeof mask);
    if (!sendRequest()) {
        fprintf(stderr, "commwait: cannot write to %s\n", argv[1]);
        return 2;
    }
    const int signalled = WaitForSingleObject(event, 5000) == WAIT_OBJECT_0;
    SleepEx(1000, TRUE); /* alertable: completion routines run here */
    printf("wait with an event handle: status 0x%lx, event %s, mask 0x%lx, completion routine "
           "called %ld times\n",
           (unsigned long)status, signalled ? "signalled" : "not signalled", (unsigned long)mask,
           (long)routines);
    faults += routines == 0;
    return faults ? 1 : 0;
}
