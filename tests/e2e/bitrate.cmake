# Bitrate recording with the real player on a real stream.
add_e2e_test(e2e_bitrate test_bitrate.py)
