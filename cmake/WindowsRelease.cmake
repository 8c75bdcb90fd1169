# The Windows release, for the mingw-w64 builds only: version resources in
# the DLL and the program.
set(VEXACOMM_FILE_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")

# A VERSIONINFO resource for `target`, a DLL (VFT_DLL) or a program
# (VFT_APP), from cmake/version.rc.in.
function(vexacomm_version_resource target filetype description)
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set(suffix ${CMAKE_SHARED_LIBRARY_SUFFIX})
  else()
    set(suffix ${CMAKE_EXECUTABLE_SUFFIX})
  endif()
  set(VEXACOMM_RC_FILENAME ${name}${suffix})
  set(VEXACOMM_RC_INTERNAL_NAME ${name})
  set(VEXACOMM_RC_FILETYPE ${filetype})
  set(VEXACOMM_RC_DESCRIPTION ${description})
  set(rc ${PROJECT_BINARY_DIR}/resources/${name}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()

vexacomm_version_resource(VexaCommLib VFT_DLL "VexaComm device communication library")
vexacomm_version_resource(vexacomm VFT_APP "VexaComm command-line program")

# VexaCommLib.lib, the import library for MSVC-style linkers, from the .def
# file: every export imported by its undecorated name, with its ordinal of
# the .def as the hint. llvm-dlltool writes Microsoft's short import format;
# without it mingw-w64's dlltool writes the long one.
find_program(VEXACOMM_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14)
if(VEXACOMM_LLVM_DLLTOOL)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(dlltool ${VEXACOMM_LLVM_DLLTOOL} -m i386:x86-64)
  else()
    set(dlltool ${VEXACOMM_LLVM_DLLTOOL} -m i386)
  endif()
elseif(CMAKE_DLLTOOL)
  set(dlltool ${CMAKE_DLLTOOL})
else()
  message(FATAL_ERROR "VexaCommLib.lib needs llvm-dlltool (Debian's llvm) or mingw-w64's dlltool")
endif()
set(VEXACOMM_MSVC_IMPORT_LIB ${CMAKE_ARCHIVE_OUTPUT_DIRECTORY}/VexaCommLib.lib)
set(VEXACOMM_DEF ${PROJECT_SOURCE_DIR}/src/api/VexaCommLib.def)
add_custom_command(OUTPUT ${VEXACOMM_MSVC_IMPORT_LIB}
  COMMAND ${dlltool} -d ${VEXACOMM_DEF} -D VexaCommLib.dll -l ${VEXACOMM_MSVC_IMPORT_LIB}
  DEPENDS ${VEXACOMM_DEF}
  COMMENT "VexaCommLib.lib from the .def file")
add_custom_target(VexaCommLib_import_lib ALL DEPENDS ${VEXACOMM_MSVC_IMPORT_LIB})

# The installed DLL and program without DWARF sections (a Windows debugger
# cannot read them); each one's debug information goes beside it, in
# bin/NAME.debug, found by gdb through the .gnu_debuglink section. Made from
# the built files, so a second install does not split a stripped copy.
if(NOT CMAKE_OBJCOPY)
  message(FATAL_ERROR "the Windows install rules need objcopy (mingw-w64's binutils)")
endif()
include(GNUInstallDirs)
foreach(target VexaCommLib vexacomm)
  install(CODE "
    set(built \"$<TARGET_FILE:${target}>\")
    set(shipped \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:${target}>\")
    message(STATUS \"Splitting debug information: \${shipped}.debug\")
    execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --only-keep-debug \"\${built}\" \"\${shipped}.debug\"
      COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --strip-debug \"--add-gnu-debuglink=\${shipped}.debug\"
      \"\${built}\" \"\${shipped}\" COMMAND_ERROR_IS_FATAL ANY)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${shipped}.debug\")")
endforeach()

# What the release zip holds, as the install rules put it: bin/ (the DLL and
# the program, installed where they are built), lib/ (libVexaCommLib.dll.a,
# installed with the DLL, VexaCommLib.lib and the .def), include/, the
# examples' sources, a README for host developers, the license and the
# notices of the run-time code linked in.
include(GNUInstallDirs)
install(FILES ${VEXACOMM_MSVC_IMPORT_LIB} ${VEXACOMM_DEF} DESTINATION ${CMAKE_INSTALL_LIBDIR})
file(GLOB examples CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/examples/*.c ${PROJECT_SOURCE_DIR}/examples/*.cpp)
install(FILES ${examples} DESTINATION examples)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(VEXACOMM_PACKAGE_BITS 64)
  set(VEXACOMM_PACKAGE_ARCH x86_64)
else()
  set(VEXACOMM_PACKAGE_BITS 32)
  set(VEXACOMM_PACKAGE_ARCH i686)
endif()
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/README-windows.txt.in
  ${PROJECT_BINARY_DIR}/packaging/README-windows.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/THIRD-PARTY-NOTICES.txt
  ${PROJECT_BINARY_DIR}/packaging/THIRD-PARTY-NOTICES.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_BINARY_DIR}/packaging/LICENSE @ONLY NEWLINE_STYLE CRLF)
install(FILES ${PROJECT_BINARY_DIR}/packaging/README-windows.txt ${PROJECT_BINARY_DIR}/packaging/LICENSE
  ${PROJECT_BINARY_DIR}/packaging/THIRD-PARTY-NOTICES.txt DESTINATION .)

# `cmake --build --preset mingw --target package`: VexaComm-0.2.0-win64.zip
# (win32 for the 32-bit build) in the build directory, everything under one
# folder of the same name, with its SHA-256 beside it.
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME VexaComm)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "VexaComm device communication library for Windows")
set(CPACK_SYSTEM_NAME win${VEXACOMM_PACKAGE_BITS})
set(CPACK_PACKAGE_FILE_NAME VexaComm-${PROJECT_VERSION}-win${VEXACOMM_PACKAGE_BITS})
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
include(CPack)
