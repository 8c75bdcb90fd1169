# VexaCommLib.lib as a linker meets it: for every export of the .def file
# the two symbols a host's call binds to, NAME and __imp_NAME (on 32-bit,
# where C names take a leading underscore, _NAME and __imp__NAME), and no
# other import.
#   cmake -DNM=... -DLIB=... -DDEF=... -DPOINTER_SIZE=4|8 -P check_import_lib.cmake
cmake_minimum_required(VERSION 3.20)
execute_process(COMMAND ${NM} ${LIB} OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} ${LIB} failed")
endif()
if(POINTER_SIZE EQUAL 4)
  set(prefix "_")
else()
  set(prefix "")
endif()

set(failed FALSE)
file(STRINGS ${DEF} entries REGEX "@[0-9]+")
list(LENGTH entries count)
foreach(entry IN LISTS entries)
  string(REGEX MATCH "[A-Za-z_0-9]+" name "${entry}")
  if(NOT symbols MATCHES " T ${prefix}${name}\n" OR NOT symbols MATCHES " I __imp_${prefix}${name}\n")
    message(SEND_ERROR "${name}: no symbols ${prefix}${name} and __imp_${prefix}${name}")
    set(failed TRUE)
  endif()
endforeach()
string(REGEX MATCHALL " I __imp_" imports "${symbols}")
list(LENGTH imports imported)
if(NOT imported EQUAL count)
  message(SEND_ERROR "${imported} imports, the .def file lists ${count}")
  set(failed TRUE)
endif()

if(failed)
  message(FATAL_ERROR "VexaCommLib.lib check failed")
endif()
message(STATUS "VexaCommLib.lib: the ${count} exports of the .def file")
