// Start-up choices that keep the player cheap on a router: which of the
// installed plug-ins a stream may wake up, decided once, after gst_init and
// before the first element is made.
#pragma once

// Settles, before gst_init starts any thread, how the HTTP source finds a
// proxy: from "http_proxy" (which the source reads itself), never from a
// desktop's proxy settings, whose resolvers cost a GSettings backend and
// libproxy on every start. A GIO_USE_PROXY_RESOLVER already set is kept.
void tune_startup_environment();

// Adjusts this process's view of the plug-in registry (never the registry
// cache on disk). Safe to call when any of the plug-ins it names is absent.
void tune_startup();
