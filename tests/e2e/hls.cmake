# HLS stations (finished and live presentations) with the real player.
add_e2e_test(e2e_hls test_hls.py)
