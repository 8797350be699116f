/* Stand-in for the controlling media player: counts the SIGUSR1 it gets
 * by appending one line per signal to the log named on the command line. */
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

static int log_fd = -1;

static void on_usr1(int sig) {
    (void)sig;
    static const char line[] = "SIGUSR1\n";
    (void)!write(log_fd, line, sizeof line - 1);
}

int main(int argc, char **argv) {
    if (argc < 2)
        return 2;
    log_fd = open(argv[1], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (log_fd < 0)
        return 1;
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_usr1;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGUSR1, &sa, NULL);

    /* tell the sandbox the handler is in place */
    char ready[512];
    size_t n = strlen(argv[1]);
    if (n > sizeof ready - 8)
        return 1;
    memcpy(ready, argv[1], n);
    char *dot = strrchr(ready, '.');
    memcpy(dot ? dot : ready + n, ".ready", 7);
    int fd = open(ready, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0)
        close(fd);
    for (;;)
        pause();
}
