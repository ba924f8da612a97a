# Compares the dynamic symbols that LIB defines with the library's external interface, and checks
# that it parses no XML Schema: libxml2 builds its schema type tables lazily and without a lock, and
# a host thread may be doing that at the same moment.
#   cmake -DLIB=libcloneCreator.so -DNM=nm -P exported_symbols.cmake
set(expected
  "createCloneDLM"
  "fexists"
  "iread"
  "iwrite"
  "kel::plugin::dlsym"
  "srtCloneSelfType[abi:cxx11]"
  "strnext"
  "xappend"
  "xcopy"
  "xcopyp"
  "xmkdir")

execute_process(COMMAND ${NM} -D --defined-only --demangle ${LIB}
                OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIB}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(actual)
foreach(line IN LISTS lines)
  # "ADDRESS TYPE NAME": the name may hold blanks (demangled C++).
  if(line MATCHES "^[0-9a-fA-F]+ [A-Za-z] (.+)$")
    list(APPEND actual "${CMAKE_MATCH_1}")
  endif()
endforeach()
list(SORT actual)
list(SORT expected)
if(NOT actual STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ\n expected: ${expected}\n actual:   ${actual}")
endif()
message(STATUS "exports: ${actual}")

execute_process(COMMAND ${NM} -D --undefined-only ${LIB} OUTPUT_VARIABLE used RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR used MATCHES "xmlSchema")
  message(FATAL_ERROR "${LIB} uses libxml2's XML Schema functions (or ${NM} failed)")
endif()
