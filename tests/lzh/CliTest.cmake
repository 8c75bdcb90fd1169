# The vexacomm compress and decompress commands, end to end.
#   cmake -DVEXACOMM=<program> -DWORK=<scratch dir> [-DEMULATOR=<wine>] -P CliTest.cmake
# With an emulator the program runs under it and gets the scratch files
# by their names there.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
set(HOST_WORK "${WORK}")
if(EMULATOR)
  execute_process(COMMAND winepath -w "${WORK}" OUTPUT_VARIABLE WORK OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "winepath -w ${HOST_WORK} failed")
  endif()
  string(REPLACE "\\" "/" WORK "${WORK}")
endif()

function(expect_exit code)
  execute_process(COMMAND ${EMULATOR} "${VEXACOMM}" ${ARGN}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL code)
    message(FATAL_ERROR "vexacomm ${ARGN}: exit ${rc}, expected ${code}\n${out}${err}")
  endif()
  if(code EQUAL 1 AND NOT err MATCHES "^error: ")
    message(FATAL_ERROR "vexacomm ${ARGN}: no 'error: ' line on stderr:\n${err}")
  endif()
  set(last_out "${out}" PARENT_SCOPE)
endfunction()

string(REPEAT "The compressed copy of a large file lies beside it. " 3000 text)
file(WRITE "${HOST_WORK}/in.txt" "${text}")
file(WRITE "${HOST_WORK}/in.lrz" "an older copy")

expect_exit(0 compress "${WORK}/in.txt" "${WORK}/in.lrz")
if(EXISTS "${HOST_WORK}/in.lrz.z!!")
  message(FATAL_ERROR "temporary file left behind")
endif()
expect_exit(0 decompress "${WORK}/in.lrz" "${WORK}/out.txt")
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${HOST_WORK}/in.txt" "${HOST_WORK}/out.txt"
  RESULT_VARIABLE same)
if(NOT same EQUAL 0)
  message(FATAL_ERROR "decompressed file differs from the original")
endif()

expect_exit(0 compress --help)
if(NOT last_out MATCHES "usage: vexacomm compress SRC DST")
  message(FATAL_ERROR "compress --help: ${last_out}")
endif()
expect_exit(0 decompress --help)
expect_exit(2 compress "${WORK}/in.txt")
expect_exit(2 decompress a b c)
expect_exit(2 compress --level 9 a b)

expect_exit(1 compress "${WORK}/missing" "${WORK}/m.lrz")
# A text file read as compressed data: its first 4 bytes promise far more.
expect_exit(1 decompress "${WORK}/in.txt" "${WORK}/bad.out")
if(EXISTS "${HOST_WORK}/bad.out")
  message(FATAL_ERROR "output of a failed decompression left behind")
endif()
expect_exit(1 decompress "${WORK}/missing.lrz" "${WORK}/x")

# Refusals and failures leave an existing DST as it was, and no file beside it.
file(WRITE "${HOST_WORK}/keep" "keep")
file(MAKE_DIRECTORY "${HOST_WORK}/dir")
expect_exit(1 compress "${WORK}/keep" "${WORK}/keep")
expect_exit(1 compress "${WORK}/in.txt" "${WORK}/dir")
expect_exit(1 decompress "${WORK}/in.txt" "${WORK}/keep")
expect_exit(1 compress "${WORK}/missing" "${WORK}/keep")
file(READ "${HOST_WORK}/keep" kept)
file(GLOB left RELATIVE "${HOST_WORK}" "${HOST_WORK}/*")
list(SORT left)
if(NOT kept STREQUAL "keep" OR NOT left STREQUAL "dir;in.lrz;in.txt;keep;out.txt")
  message(FATAL_ERROR "a refused or failed run changed files: '${kept}', ${left}")
endif()
