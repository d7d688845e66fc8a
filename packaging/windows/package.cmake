# The Windows zip: the module, cvxtext.exe, the install text, and the module's registry entries
# as a .reg file for installers that write the registry from data rather than self-registration.
#
# The .reg file is what the native cvxtext prints with --registration: the module's own
# registration code run against the in-memory registry, which only a native build has. The
# Windows build takes it from a cvxtext built for this machine (the native preset's).
set(CVX_HOST_CVXTEXT "${PROJECT_SOURCE_DIR}/build/native/tools/cvxtext/cvxtext" CACHE FILEPATH
    "cvxtext built for the build machine, which prints the registry entries for the zip")

set(registration_file "${CMAKE_BINARY_DIR}/cvxfilter.reg")
if(EXISTS "${CVX_HOST_CVXTEXT}")
  add_custom_command(OUTPUT "${registration_file}"
                     COMMAND "${CVX_HOST_CVXTEXT}" --registration > "${registration_file}"
                     DEPENDS "${CVX_HOST_CVXTEXT}"
                     COMMENT "Writing the registry entries (cvxfilter.reg)" VERBATIM)
  add_custom_target(cvxfilter_reg ALL DEPENDS "${registration_file}")
else()
  message(STATUS "No cvxtext for the build machine at ${CVX_HOST_CVXTEXT}: the zip cannot be "
                 "made. Build the native preset first, or set CVX_HOST_CVXTEXT.")
  install(CODE "message(FATAL_ERROR \"cvxfilter.reg is missing: build the native preset first\")")
endif()

# Both files carry the project's version.
foreach(binary IN ITEMS "CVXFilter;VFT_DLL;CVXFilter.dll;.zcv document filter"
                        "cvxtext;VFT_APP;cvxtext.exe;Prints the text of .zcv documents")
  list(GET binary 0 target)
  list(GET binary 1 file_type)
  list(GET binary 2 file_name)
  list(GET binary 3 file_description)
  configure_file("${CMAKE_CURRENT_LIST_DIR}/version.rc.in" "${CMAKE_BINARY_DIR}/${target}_version.rc"
                 @ONLY)
  target_sources(${target} PRIVATE "${CMAKE_BINARY_DIR}/${target}_version.rc")
endforeach()

install(TARGETS CVXFilter RUNTIME DESTINATION .)
install(TARGETS cvxtext RUNTIME DESTINATION .)
# Read on Windows, where Notepad of old wants CR LF.
configure_file("${CMAKE_CURRENT_LIST_DIR}/INSTALL.txt" "${CMAKE_BINARY_DIR}/INSTALL.txt" @ONLY
               NEWLINE_STYLE CRLF)
install(FILES "${CMAKE_BINARY_DIR}/INSTALL.txt" DESTINATION .)
install(FILES "${registration_file}" DESTINATION . OPTIONAL)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME "cvxfilter-${PROJECT_VERSION}-win32")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)

if(CVX_BUILD_TESTS AND CVX_INTEGRATION_TESTS AND CMAKE_CROSSCOMPILING AND EXISTS "${CVX_HOST_CVXTEXT}")
  # Makes the zip, then follows its install text under Wine: unpack, copy, register, extract,
  # unregister.
  add_test(NAME windows_package
           COMMAND "${CMAKE_CURRENT_LIST_DIR}/test-zip.sh" "${CMAKE_BINARY_DIR}" "${CVX_HOST_CVXTEXT}"
                   "${PROJECT_SOURCE_DIR}/samples/brochure.zcv")
  set_tests_properties(windows_package PROPERTIES RESOURCE_LOCK registry)
endif()
