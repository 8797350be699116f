// Symbols of libshared.so that programs may call. Everything else is built
// hidden (-fvisibility=hidden) and the version script keeps it local, so the
// library exports exactly the operations of shared.h and a vendor library can
// take its place.
#ifndef PLATFORM_EXPORT_H
#define PLATFORM_EXPORT_H

#define PLATFORM_EXPORT extern "C" __attribute__((visibility("default")))

#endif
