#include "smb/smb_mount.h"

#include "control/signals.h"
#include "smb/mount_table.h"

#include <cerrno>
#include <fcntl.h>
#include <glib.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

// The table of a busy router is a few KiB; this only stops a runaway reader.
constexpr size_t kMountTableLimit = 1024 * 1024;

// Starts argv with the signal mask the process began with: the player keeps
// its control signals blocked, and a hung mount must still die of SIGTERM.
int spawn(pid_t *pid, const char *const argv[], const posix_spawn_file_actions_t *actions) {
    posix_spawnattr_t attr;
    int rc = posix_spawnattr_init(&attr);
    if (rc != 0)
        return rc;
    rc = restore_child_signal_mask(&attr);
    if (rc == 0)
        rc = posix_spawnp(pid, argv[0], actions, &attr, const_cast<char *const *>(argv), environ);
    posix_spawnattr_destroy(&attr);
    return rc;
}

int wait_child(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The whole output of "cat /proc/mounts", taken from cat as the firmware
// always has; a stand-in cat can then present any table to the shipped code
// path in tests.
GString *read_mount_table() {
    GString *text = g_string_new(nullptr);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return text;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    const char *argv[] = {"cat", "/proc/mounts", nullptr};
    pid_t pid;
    int rc = spawn(&pid, argv, &actions);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc == 0) {
        char chunk[4096];
        for (;;) {
            ssize_t n = read(fds[0], chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            if (text->len + static_cast<size_t>(n) > kMountTableLimit)
                break;
            g_string_append_len(text, chunk, n);
        }
    }
    close(fds[0]);
    if (rc == 0)
        (void)wait_child(pid);
    return text;
}

} // namespace

int run_command(const char *const argv[]) {
    pid_t pid;
    if (spawn(&pid, argv, nullptr) != 0)
        return -1;
    return wait_child(pid);
}

void prepare_smb_share(const SmbLocation &smb) {
    GString *table = read_mount_table();
    MountPointState state = mount_point_state(std::string_view(table->str, table->len), smb.share);
    g_string_free(table, TRUE);

    if (state == MountPointState::SameShare)
        return;
    if (state == MountPointState::Unmounted) {
        const char *mkdir_argv[] = {"mkdir", kSmbMountPoint, nullptr};
        (void)run_command(mkdir_argv);
    } else {
        const char *umount_argv[] = {"umount", kSmbMountPoint, nullptr};
        (void)run_command(umount_argv);
    }
    const char *mount_argv[] = {"mount",           "-t",      "cifs",         "-o",
                                smb.mount_options, smb.share, kSmbMountPoint, nullptr};
    (void)run_command(mount_argv);
}
