# Unit tests of the WPS client's pure core (no driver; the survey parser is
# given the platform's trim_r, as the client gives it).
add_unit_test(survey_reply_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/survey_reply_test.cpp
              LIBS ostrel_core shared)
add_unit_test(client_names_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/client_names_test.cpp
              LIBS ostrel_core)
