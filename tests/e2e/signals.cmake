# The player's signals and watchdogs. The time-out and stall cases wait for
# the player's own 20-second and 16-tick limits: each slow group is its own
# entry so that CTest runs them side by side.
add_e2e_test(e2e_signals test_signals.py)
add_e2e_test(e2e_signals_timeout test_signals_timeout.py LABELS slow)
add_e2e_test(e2e_signals_stall test_signals_stall.py LABELS slow)
