# cmake -DFILES=a;b -DNM=nm -P check_no_exception_runtime.cmake
# A shipped file that contains the C++ exception runtime carries about 110 KB
# of unwinder and demangler it can never use (it is built without
# exceptions): some code reached a throwing libstdc++ helper that
# cmake/abort_on_throw.cpp does not stand in for.
if(NOT NM)
    set(NM nm)
endif()
list(LENGTH FILES count)
if(count EQUAL 0)
    message(FATAL_ERROR "no shipped files given")
endif()
foreach(f ${FILES})
    execute_process(COMMAND ${NM} ${f} OUTPUT_VARIABLE syms ERROR_VARIABLE err RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "nm failed on ${f}: ${err}")
    endif()
    string(REGEX MATCHALL "[^\n]* (__cxa_throw|__gxx_personality_v0|__cxa_demangle|_Unwind_RaiseException)\n"
           found "${syms}")
    if(found)
        message(FATAL_ERROR "${f} contains the C++ exception runtime:\n${found}")
    endif()
    message(STATUS "${f}: no exception runtime")
endforeach()
