add_e2e_test(e2e_playlist test_playlist.py)
