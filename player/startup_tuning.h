// Start-up choices that keep the player cheap on a router: which of the
// installed plug-ins a stream may wake up, decided once, after gst_init and
// before the first element is made.
#pragma once

// Adjusts this process's view of the plug-in registry (never the registry
// cache on disk). Safe to call when any of the plug-ins it names is absent.
void tune_startup();
