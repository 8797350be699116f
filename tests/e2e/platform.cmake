add_e2e_test(e2e_platform test_platform.py)
