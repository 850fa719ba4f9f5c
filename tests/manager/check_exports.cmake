# Fails unless the library's dynamic symbol table defines exactly
# DestroyInstance and GetInstance.
# cmake -DNM=<nm> -DLIBRARY=<libvideoconf.so> -P check_exports.cmake
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^ \n]+\n" names "${listing}")
set(defined "")
foreach(name ${names})
  string(STRIP "${name}" name)
  list(APPEND defined ${name})
endforeach()
list(SORT defined)
if(NOT defined STREQUAL "DestroyInstance;GetInstance")
  message(FATAL_ERROR "${LIBRARY} defines: ${defined}")
endif()
