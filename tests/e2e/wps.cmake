# The WPS client end to end, on the real platform library over the scripted
# wireless driver, and the library's driver requests themselves.
add_e2e_test(e2e_wps test_wps.py LABELS wps)
