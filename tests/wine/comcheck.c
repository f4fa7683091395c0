/* A check of the test bed itself, built for Windows.
 * Usage: comcheck read PORT TEXT
 *          opens PORT as QSerialPort does (overlapped), asks for its modem lines, prints "ready",
 *          then waits for bytes with WaitCommEvent and reads them: exits 0 when it read exactly
 *          TEXT within five seconds.
 *        comcheck line PORT
 *          asks the bed (THERMOMETER_TEST_LINE_CONTROL) to hang PORT's line up while a read
 *          waits on it, which must then fail; to renew the line, after which PORT opens again;
 *          and to close it, after which PORT does not open. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
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

static HANDLE open_port(const char *name)
{
    char path[64];
    snprintf(path, sizeof path, "\\\\.\\%s", name);
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, NULL);
}

/* Asks the bed to act on the line, and waits until it has (it deletes the file). */
static int request(const char *action)
{
    const char *dir = getenv("THERMOMETER_TEST_LINE_CONTROL");
    char path[MAX_PATH];
    HANDLE file;
    int i;
    if (dir == NULL) {
        printf("comcheck: no THERMOMETER_TEST_LINE_CONTROL\n");
        return 0;
    }
    snprintf(path, sizeof path, "%s\\%s", dir, action);
    file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        fail("CreateFile in the line-control directory");
        return 0;
    }
    CloseHandle(file);
    for (i = 0; i < 250; ++i) {
        if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
            return 1;
        Sleep(20);
    }
    printf("comcheck: the bed did not %s the line within five seconds\n", action);
    return 0;
}

static int check_line(const char *name)
{
    COMMTIMEOUTS timeouts = {0, 0, 4000, 0, 0};
    OVERLAPPED ov;
    DWORD count = 0, error;
    char byte;
    HANDLE port = open_port(name);
    if (port == INVALID_HANDLE_VALUE)
        return fail("CreateFile");
    if (!SetCommTimeouts(port, &timeouts))
        return fail("SetCommTimeouts");
    memset(&ov, 0, sizeof ov);
    ov.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (ReadFile(port, &byte, 1, &count, &ov) || GetLastError() != ERROR_IO_PENDING)
        return fail("a waiting ReadFile");
    if (!request("hangup"))
        return 1;
    if (WaitForSingleObject(ov.hEvent, 3000) != WAIT_OBJECT_0) {
        printf("comcheck: a read still waits 3 s after the line was hung up\n");
        return 1;
    }
    if (GetOverlappedResult(port, &ov, &count, FALSE)) {
        printf("comcheck: a read ended with %lu bytes after the line was hung up\n",
               (unsigned long)count);
        return 1;
    }
    error = GetLastError();
    CloseHandle(port);
    printf("hangup: the waiting read failed with error %lu\n", (unsigned long)error);

    if (!request("renew"))
        return 1;
    port = open_port(name);
    if (port == INVALID_HANDLE_VALUE)
        return fail("CreateFile after renew");
    CloseHandle(port);
    printf("renew: %s opens again\n", name);

    if (!request("close"))
        return 1;
    /* Wine still opens a mapped COM port whose device is gone, but nothing works on it. */
    port = open_port(name);
    if (port == INVALID_HANDLE_VALUE) {
        printf("close: %s does not open (error %lu)\n", name, (unsigned long)GetLastError());
    } else {
        DWORD lines;
        if (GetCommModemStatus(port, &lines)) {
            printf("comcheck: %s still works after close\n", name);
            return 1;
        }
        printf("close: %s opens, but GetCommModemStatus fails (error %lu)\n", name,
               (unsigned long)GetLastError());
        CloseHandle(port);
    }
    return 0;
}

static int check_read(const char *name, const char *text)
{
    char got[256];
    size_t want, have = 0;
    HANDLE port;
    DCB dcb;
    COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, 0, 0};
    DWORD lines, deadline;
    OVERLAPPED ov;

    if (strlen(text) >= sizeof got)
        return 2;
    want = strlen(text);
    port = open_port(name);
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
    if (strcmp(got, text) != 0) {
        printf("comcheck: read \"%s\", expected \"%s\"\n", got, text);
        return 1;
    }
    printf("read \"%s\"\n", got);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 4 && strcmp(argv[1], "read") == 0)
        return check_read(argv[2], argv[3]);
    if (argc == 3 && strcmp(argv[1], "line") == 0)
        return check_line(argv[2]);
    printf("usage: comcheck read PORT TEXT | comcheck line PORT\n");
    return 2;
}
