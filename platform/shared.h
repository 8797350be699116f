/*
 * Router platform library: the operations both daemons take from
 * libshared.so. On the router the vendor's own library may stand in its
 * place; this header is the contract both sides keep.
 */
#ifndef PLATFORM_SHARED_H
#define PLATFORM_SHARED_H

#include <linux/wireless.h> /* struct iwreq, SIOCIWFIRSTPRIV */

#ifdef __cplusplus
extern "C" {
#endif

/* Settings store (nvram).
 * The store is the text file $NVRAM_FILE, or "/var/lib/nvram/nvram.txt"
 * when that is unset or empty; one "KEY=VALUE" line per key (details in
 * platform/nvram_format.h, locking and paths in platform/nvram_store.h).
 * Bounds: a key is 1 to 64 bytes with no "=", no line end ("\n", "\r");
 * a value is at most 4096 bytes with no line end; the store holds at most
 * 2048 keys and 64 KiB. Anything outside them is refused, store unchanged.
 * nvram_get returns NULL for an unset key (errno ENOENT), for a damaged
 * store (errno EBADMSG) and when out of memory (ENOMEM); the text stays
 * valid until the caller's own next nvram_set or nvram_unset, however often
 * other processes change the store meanwhile. The cost: the process keeps
 * one copy of each distinct value it has been handed (the same text read
 * again is the same copy) until that next write, so a process that only
 * reads grows with the distinct values it reads, never by whole stores.
 * nvram_set / nvram_unset return 0 on success, a negative errno value on
 * failure; a damaged store is never rewritten.
 * Callers may use the store from several threads; a write by any thread of
 * the process ends the values handed out to all of them. */
char *nvram_get(const char *key);
int nvram_set(const char *key, const char *value);
int nvram_unset(const char *key);

/* Wireless driver private request on interface `ifname`. Copies the name
 * into wrq->ifr_name (at most IFNAMSIZ-1 characters, else failure without
 * a request) and issues ioctl(request) on an AF_INET datagram socket.
 * Negative errno value on failure. */
int wl_ioctl(const char *ifname, int request, struct iwreq *wrq);

/* Driver parameter "KEY=VALUE" for interface `ifname`, sent as the private
 * set request (SIOCIWFIRSTPRIV + 2). Negative on failure. */
int ap_set(const char *ifname, const char *setting);

/* Platform-wide lock number `n` (0 to 63), held across processes as an
 * exclusive flock on "/var/run/spinlock.<n>.lock"; released when the holder
 * dies. 0 on success, a negative errno value on failure (-EDEADLK when this
 * process already holds it). Not thread-safe. */
int spinlock_lock(int n);
int spinlock_unlock(int n);

/* Afterwards `path` holds exactly `text`, replaced atomically (temporary
 * file in the same directory, fsync, rename); an existing regular file keeps
 * its permissions without set-uid, set-gid and sticky bits; a new file, or
 * one replacing a symbolic link (never followed), gets 0644. 0 on success, negative errno value on
 * failure with `path` unchanged. */
int writefile(const char *path, const char *text);

/* Removes trailing white space (space, \t, \n, \r, \v, \f) of `text` in
 * place; returns `text`. */
char *trim_r(char *text);

#ifdef __cplusplus
}
#endif

#endif
