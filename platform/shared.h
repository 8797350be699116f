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
 * Bounds, file format and path: see the implementation notes in
 * platform/nvram_store.h. nvram_get returns NULL for an unset key; the text
 * stays valid at least until the caller's next write to the store.
 * nvram_set / nvram_unset return 0 on success, non-zero on failure. */
char *nvram_get(const char *key);
int nvram_set(const char *key, const char *value);
int nvram_unset(const char *key);

/* Wireless driver private request on interface `ifname`. Copies the name
 * into wrq->ifr_name (at most IFNAMSIZ-1 characters, else failure) and
 * issues ioctl(request). Negative on failure. */
int wl_ioctl(const char *ifname, int request, struct iwreq *wrq);

/* Driver parameter "KEY=VALUE" for interface `ifname`, sent as the private
 * set request (SIOCIWFIRSTPRIV + 2). Negative on failure. */
int ap_set(const char *ifname, const char *setting);

/* Platform-wide lock number `n`, held across processes; released when the
 * holder dies. 0 on success. */
int spinlock_lock(int n);
int spinlock_unlock(int n);

/* Afterwards `path` holds exactly `text`, replaced atomically. 0 on success. */
int writefile(const char *path, const char *text);

/* Removes trailing white space of `text` in place; returns `text`. */
char *trim_r(char *text);

#ifdef __cplusplus
}
#endif

#endif
