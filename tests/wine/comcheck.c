/* A check of the test bed itself, built for Windows: opens a COM port as QSerialPort does
 * (overlapped), asks for its modem lines, waits for bytes with WaitCommEvent and reads them.
 * Usage: comcheck PORT TEXT   -- prints "ready" once it waits, then expects TEXT on PORT within
 * five seconds. Exits 0 when it read exactly TEXT. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

static int fail(const char *what)
{
    printf("comcheck: %s failed: error %lu\n", what, (unsigned long)GetLastError());
    return 1;
}

/* Waits up to the time left for an overlapped call that returned FALSE. */
static BOOL finish(HANDLE port, OVERLAPPED *ov, DWORD *count, DWORD deadline)
{
    DWORD now = GetTickCount();
    if (GetLastError() != ERROR_IO_PENDING)
        return FALSE;
    if (WaitForSingleObject(ov->hEvent, now < deadline ? deadline - now : 0) != WAIT_OBJECT_0) {
        CancelIo(port);
        SetLastError(WAIT_TIMEOUT);
        return FALSE;
    }
    return GetOverlappedResult(port, ov, count, FALSE);
}

int main(int argc, char **argv)
{
    char path[64], got[256];
    size_t want, have = 0;
    HANDLE port;
    DCB dcb;
    COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, 0, 0};
    DWORD lines, deadline;
    OVERLAPPED ov;

    if (argc != 3 || strlen(argv[2]) >= sizeof got) {
        printf("usage: comcheck PORT TEXT\n");
        return 2;
    }
    want = strlen(argv[2]);
    snprintf(path, sizeof path, "\\\\.\\%s", argv[1]);
    port = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, NULL);
    if (port == INVALID_HANDLE_VALUE)
        return fail("CreateFile");
    if (!GetCommModemStatus(port, &lines))
        return fail("GetCommModemStatus");
    if ((lines & (MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON)) != (MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON)) {
        printf("comcheck: modem lines %#lx, not CTS, DSR and RLSD\n", (unsigned long)lines);
        return 1;
    }
    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb))
        return fail("GetCommState");
    dcb.BaudRate = 38400;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    if (!SetCommState(port, &dcb))
        return fail("SetCommState");
    /* Reads return at once with what is there. */
    if (!SetCommTimeouts(port, &timeouts))
        return fail("SetCommTimeouts");
    if (!SetCommMask(port, EV_RXCHAR))
        return fail("SetCommMask");
    memset(&ov, 0, sizeof ov);
    ov.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    printf("ready\n");
    fflush(stdout);

    deadline = GetTickCount() + 5000;
    while (have < want) {
        DWORD mask = 0, count = 0;
        ResetEvent(ov.hEvent);
        if (!WaitCommEvent(port, &mask, &ov) && !finish(port, &ov, &count, deadline))
            return fail("WaitCommEvent");
        if (!(mask & EV_RXCHAR)) {
            printf("comcheck: event mask %#lx without EV_RXCHAR\n", (unsigned long)mask);
            return 1;
        }
        ResetEvent(ov.hEvent);
        if (!ReadFile(port, got + have, (DWORD)(sizeof got - 1 - have), &count, &ov)
            && !finish(port, &ov, &count, deadline))
            return fail("ReadFile");
        have += count;
    }
    got[have] = '\0';
    CloseHandle(port);
    if (strcmp(got, argv[2]) != 0) {
        printf("comcheck: read \"%s\", expected \"%s\"\n", got, argv[2]);
        return 1;
    }
    printf("read \"%s\"\n", got);
    return 0;
}
