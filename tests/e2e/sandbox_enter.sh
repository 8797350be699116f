#!/bin/sh
# Runs one program as the test's own router: inside a fresh mount and pid
# namespace (made by unshare), with per-test directories standing in for
# /tmp, /var/run (/run), /etc_ro and /mnt, so nothing fixed on the host is
# touched and killall sees only this sandbox's processes.
#
# sandbox_enter.sh ROOT [--kavido KAVIDO_BIN] [--linger] [--status NAME]
#                  [--keep DIR]... [--bind FILE PATH]... -- PROGRAM ARGS...
#
# --status NAME is the file in ROOT/ctl that receives the program's exit
# status: programs started side by side in one sandbox each need their own.
# --keep DIR keeps a host directory (the build tree, say) at its own path even
# when it lies below a replaced path (a clone in /tmp): its mount point is made
# in the per-test directory and removed again when the last program of the
# sandbox using it has ended.
# --bind FILE PATH puts a host file over the file at PATH, for this sandbox
# only (a test CA over the system's bundle, say).
set -eu
R=$1
shift
KAVIDO=""
LINGER=0
STATUS=exit_status
KEEP=""
BINDS=""
while [ $# -gt 0 ]; do
    case "$1" in
    --kavido) KAVIDO=$2; shift 2 ;;
    --linger) LINGER=1; shift ;;
    --status) STATUS=$2; shift 2 ;;
    --keep) KEEP="$KEEP $2"; shift 2 ;;
    --bind) BINDS="$BINDS $2:$3"; shift 3 ;;
    --) shift; break ;;
    *) echo "sandbox_enter: unknown option $1" >&2; exit 125 ;;
    esac
done

NEW=$R/.root
mkdir -p "$NEW"
mount -t tmpfs -o mode=755 sandbox-root "$NEW"
for e in /*; do
    n=${e#/}
    case "$n" in
    tmp | mnt | etc_ro | proc | run | lost+found) continue ;;
    esac
    if [ -L "$e" ]; then
        ln -s "$(readlink "$e")" "$NEW/$n"
    elif [ -d "$e" ]; then
        mkdir "$NEW/$n"
        mount --rbind "$e" "$NEW/$n"
    fi
done
for d in tmp mnt etc_ro run proc .sandbox; do
    mkdir "$NEW/$d"
done
mount --bind "$R/tmp" "$NEW/tmp"
mount --bind "$R/mnt" "$NEW/mnt"
mount --bind "$R/etc_ro" "$NEW/etc_ro"
mount --bind "$R/run" "$NEW/run"
mount --bind "$R/ctl" "$NEW/.sandbox"
mount -t proc proc "$NEW/proc"
for bind in $BINDS; do
    mount --bind "${bind%%:*}" "$NEW${bind#*:}"
done
# Mount points for kept directories live in the shared per-test directories,
# so programs started side by side share them: whoever comes first makes
# them, the last to leave removes them (a count under a lock in ctl).
KEEP_LOCK=$R/ctl/.keep.lock
KEEP_USERS=$R/ctl/.keep.users
KEEP_MADE=$R/ctl/.keep.made
KEPT=""
for dir in $KEEP; do
    case "$dir" in
    /tmp/* | /mnt/* | /etc_ro/* | /run/*) KEPT="$KEPT $dir" ;;
    esac
done
if [ -n "$KEPT" ]; then
    exec 9>"$KEEP_LOCK"
    flock 9
    echo $(($(cat "$KEEP_USERS" 2>/dev/null || echo 0) + 1)) >"$KEEP_USERS"
    for dir in $KEPT; do
        path=""
        for part in $(echo "${dir#/}" | tr / ' '); do
            path="$path/$part"
            if [ ! -e "$NEW$path" ]; then
                mkdir "$NEW$path"
                echo "$path" >>"$KEEP_MADE"
            fi
        done
        mount --bind "$dir" "$NEW$dir"
    done
    exec 9>&-
fi

# This shell stays pid 1 of the sandbox and runs the program as a grandchild:
# pid 1 ignores signals it has no handler for, and the program under test
# must see the signals of a normal process.
rc=0
chroot "$NEW" /bin/sh -c '
    kavido=$1; linger=$2; status=$3; shift 3
    cd /
    if [ -n "$kavido" ]; then
        "$kavido" /.sandbox/kavido.log &
        # the stand-in must be listening before the program can signal it
        i=0
        while [ ! -e /.sandbox/kavido.ready ] && [ $i -lt 200 ]; do sleep 0.01; i=$((i+1)); done
    fi
    set +e
    # A preload (the driver stand-in) is for the program, not for this shell.
    if [ -n "${E2E_PRELOAD:-}" ]; then
        LD_PRELOAD=$E2E_PRELOAD "$@"
    else
        "$@"
    fi
    rc=$?
    # A SIGUSR1 sent just before the program ended may still be pending in
    # the stand-in; give it time to log before this namespace is torn down.
    if [ -n "$kavido" ]; then sleep 0.2; fi
    echo "$rc" > "/.sandbox/$status"
    if [ "$linger" = 1 ]; then
        # a daemon the program left behind keeps the sandbox until it ends
        while :; do
            others=0
            for p in /proc/[0-9]*; do
                pid=${p#/proc/}
                [ "$pid" = 1 ] || [ "$pid" = $$ ] && continue
                [ "$(cat "$p/comm" 2>/dev/null)" = kavido ] && continue
                [ -e "$p/comm" ] || continue
                # zombies waiting for pid 1 do not count
                case "$(cut -d" " -f3 "$p/stat" 2>/dev/null)" in Z|"") continue ;; esac
                others=1
            done
            [ $others = 0 ] && break
            sleep 0.05
        done
    fi
    exit "$rc"
' sandbox "$KAVIDO" "$LINGER" "$STATUS" "$@" || rc=$?
# Leave the per-test directories as the program left them.
for dir in $KEPT; do
    umount -l "$NEW$dir" 2>/dev/null
done
if [ -n "$KEPT" ]; then
    exec 9>"$KEEP_LOCK"
    flock 9
    users=$(($(cat "$KEEP_USERS") - 1))
    echo $users >"$KEEP_USERS"
    if [ $users = 0 ] && [ -e "$KEEP_MADE" ]; then
        for path in $(sort -r "$KEEP_MADE"); do
            rmdir "$NEW$path" 2>/dev/null || true
        done
        rm -f "$KEEP_MADE"
    fi
    exec 9>&-
fi
exit $rc
