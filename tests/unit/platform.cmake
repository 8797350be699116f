# Unit tests of platform/ (the settings store format, libshared.so's
# operations) and the check that libshared.so exports only its operations.
add_unit_test(nvram_format_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/nvram_format_test.cpp LIBS platform_store)
add_unit_test(nvram_store_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/nvram_store_test.cpp LIBS shared)
add_unit_test(file_helpers_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/file_helpers_test.cpp LIBS shared)
add_unit_test(wl_ioctl_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/wl_ioctl_test.cpp LIBS shared)

# A vendor library must be able to take libshared.so's place: programs may
# only ever bind to the nine operations, so nothing else may be exported.
find_program(NM_FOR_TESTS NAMES nm)
add_test(NAME libshared_exports_only_operations
         COMMAND sh -c "test \"$(${NM_FOR_TESTS} -D --defined-only \"$0\" | awk '{print $3}' | sort | tr '\\n' ' ')\" = 'ap_set nvram_get nvram_set nvram_unset spinlock_lock spinlock_unlock trim_r wl_ioctl writefile '"
                 $<TARGET_FILE:shared>)
