add_e2e_test(e2e_mms test_mms.py)
