# The README's plug-in list for a router image: every format, with GStreamer
# restricted to the plug-in files it names.
add_e2e_test(e2e_router_plugins test_router_plugins.py)
