/* Preloaded into Wine's processes on the test bed: a pseudo-terminal has no modem lines, and
 * Wine's wait for serial events asks for them (TIOCMGET) and gives up when that fails. On a pty
 * slave this answers the modem-line requests as a UART with a device attached would (DSR, CTS
 * and DCD set; DTR and RTS as last set); every other request, and every other file, goes to
 * the real ioctl. Wine sets DTR and RTS through these requests too, so when the environment
 * names a file in THERMOMETER_MODEM_LINES, the lines last set are written there ("DTR RTS",
 * "DTR", "RTS" or nothing) for a test to read. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

/* The lines the program sets, off until it sets them, so that a test sees what it set; the ones
 * it reads are fixed. */
static int outputs = 0;
static const int inputs = TIOCM_DSR | TIOCM_CTS | TIOCM_CAR;

/* Unix98 pty slaves have the character majors 136 to 143. */
static int is_pty_slave(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return 0;
    return major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

static void note_outputs(int lines)
{
    const char *path = getenv("THERMOMETER_MODEM_LINES");
    FILE *file = path != NULL ? fopen(path, "w") : NULL;
    if (file == NULL)
        return;
    fprintf(file, "%s%s%s", (lines & TIOCM_DTR) ? "DTR" : "",
            (lines & TIOCM_DTR) && (lines & TIOCM_RTS) ? " " : "",
            (lines & TIOCM_RTS) ? "RTS" : "");
    fclose(file);
}

static int modem_lines(unsigned long request, int *arg)
{
    const int settable = TIOCM_DTR | TIOCM_RTS;
    if (arg == NULL) {
        errno = EFAULT;
        return -1;
    }
    switch (request) {
    case TIOCMGET:
        *arg = __atomic_load_n(&outputs, __ATOMIC_SEQ_CST) | inputs;
        return 0;
    case TIOCMSET:
        __atomic_store_n(&outputs, *arg & settable, __ATOMIC_SEQ_CST);
        note_outputs(*arg & settable);
        return 0;
    case TIOCMBIS:
        note_outputs(__atomic_or_fetch(&outputs, *arg & settable, __ATOMIC_SEQ_CST));
        return 0;
    case TIOCMBIC:
        note_outputs(__atomic_and_fetch(&outputs, ~(*arg & settable), __ATOMIC_SEQ_CST));
        return 0;
    }
    errno = EINVAL;
    return -1;
}

int ioctl(int fd, unsigned long request, ...)
{
    static ioctl_fn real;
    va_list ap;
    void *arg;

    va_start(ap, request);
    arg = va_arg(ap, void *);
    va_end(ap);

    if ((request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC)
        && is_pty_slave(fd))
        return modem_lines(request, arg);

    if (real == NULL) {
        /* POSIX's way from dlsym's object pointer to a function pointer. */
        *(void **)&real = dlsym(RTLD_NEXT, "ioctl");
        if (real == NULL) {
            errno = ENOSYS;
            return -1;
        }
    }
    return real(fd, request, arg);
}
