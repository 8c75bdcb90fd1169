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
