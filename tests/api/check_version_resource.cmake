# The version resource of a DLL or program as windres reads it back:
# FILEVERSION and PRODUCTVERSION, the string tables 080404b0 (the one the
# library's own version lookup reads) and 040904b0, each with the version
# strings, the product and file names and a description, and both
# translations.
#   cmake -DWINDRES=... -DFILE=... -DNAME=VexaCommLib.dll -DVERSION=0.2.0.0 -P check_version_resource.cmake
cmake_minimum_required(VERSION 3.20)
execute_process(COMMAND ${WINDRES} -i ${FILE} -O rc OUTPUT_VARIABLE rc RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${WINDRES} -i ${FILE} -O rc failed")
endif()

set(failed FALSE)
macro(expect text pattern what)
  if(NOT "${text}" MATCHES "${pattern}")
    message(SEND_ERROR "${FILE}: ${what}")
    set(failed TRUE)
  endif()
endmacro()

string(REPLACE "." ", " fixed "${VERSION}")
string(REPLACE "." "\\." version "${VERSION}")
string(REPLACE "." "\\." name "${NAME}")
expect("${rc}" "FILEVERSION ${fixed}\n" "FILEVERSION is not ${fixed}")
expect("${rc}" "PRODUCTVERSION ${fixed}\n" "PRODUCTVERSION is not ${fixed}")
foreach(table 080404b0 040904b0)
  string(FIND "${rc}" "BLOCK \"${table}\"" at)
  if(at LESS 0)
    message(SEND_ERROR "${FILE}: no string table ${table}")
    set(failed TRUE)
    continue()
  endif()
  string(SUBSTRING "${rc}" ${at} -1 block)
  string(FIND "${block}" " END\n" end)
  string(SUBSTRING "${block}" 0 ${end} block)
  expect("${block}" "\"FileVersion\", \"${version}\"" "${table}: FileVersion is not ${VERSION}")
  expect("${block}" "\"ProductVersion\", \"${version}\"" "${table}: ProductVersion is not ${VERSION}")
  expect("${block}" "\"ProductName\", \"VexaComm\"" "${table}: ProductName is not VexaComm")
  expect("${block}" "\"OriginalFilename\", \"${name}\"" "${table}: OriginalFilename is not ${NAME}")
  expect("${block}" "\"InternalName\", \"[^\"]+\"" "${table}: no InternalName")
  expect("${block}" "\"FileDescription\", \"[^\"]+\"" "${table}: no FileDescription")
endforeach()
expect("${rc}" "\"Translation\", 0x804, 1200, 0x409, 1200" "the translations are not 0x804 and 0x409, Unicode")

if(failed)
  message(FATAL_ERROR "version resource check failed:\n${rc}")
endif()
message(STATUS "${NAME}: version ${VERSION} under 080404b0 and 040904b0")
