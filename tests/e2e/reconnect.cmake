# A live station through dropped connections. The slow cases (the whole
# budget, 8 s of silence) run side by side inside their one test.
add_e2e_test(e2e_reconnect test_reconnect.py)
