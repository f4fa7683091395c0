/* Hangs up a pseudo-terminal as a pulled-out USB serial adapter would: TIOCVHANGUP on its
 * slave, so that every open file of it reads end of file and writes fail from then on.
 * Usage: hangup PATH (a link to the slave is followed). Needs CAP_SYS_ADMIN. */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    int fd;
    if (argc != 2) {
        fprintf(stderr, "usage: hangup PATH\n");
        return 2;
    }
    fd = open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        fprintf(stderr, "hangup: cannot open %s: %s\n", argv[1], strerror(errno));
        return 1;
    }
    if (ioctl(fd, TIOCVHANGUP, 0) != 0) {
        fprintf(stderr, "hangup: TIOCVHANGUP on %s: %s\n", argv[1], strerror(errno));
        close(fd);
        return 1;
    }
    close(fd);
    return 0;
}
