add_e2e_test(e2e_sandbox test_sandbox.py)
