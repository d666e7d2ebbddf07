# The development kit: what a component built outside this tree needs.
#
#   PREFIX/include/quon-script/          the interface headers, quon/script/ (the base)
#   PREFIX/lib/libquon_script_helper.a   the base, static, position-independent
#   PREFIX/lib/quon-host/libquon_string.so  the string library (the host's own copy)
#   PREFIX/lib/cmake/QuonScript/         find_package(QuonScript): QuonScript::quon_script_helper,
#                                        QuonScript::quon_string
#   PREFIX/lib/pkgconfig/quon-script.pc  the same for pkg-config
#
# The install component `kit` is all of it (with the string library):
# `cmake --install BUILD --component kit`. docs/kit.md tells how to use it; tests/kit builds a component against an
# installed kit.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/ DESTINATION ${QUON_KIT_INCLUDEDIR} COMPONENT kit FILES_MATCHING PATTERN "*.h")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/script_helper/include/ DESTINATION ${QUON_KIT_INCLUDEDIR}
  COMPONENT kit FILES_MATCHING PATTERN "*.h")
install(TARGETS quon_script_helper EXPORT QuonScriptTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT kit)

set(QUON_KIT_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/QuonScript)
install(EXPORT QuonScriptTargets NAMESPACE QuonScript:: DESTINATION ${QUON_KIT_CMAKEDIR} COMPONENT kit)
include(CMakePackageConfigHelpers)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/QuonScriptConfig.cmake.in
  ${PROJECT_BINARY_DIR}/kit/QuonScriptConfig.cmake
  INSTALL_DESTINATION ${QUON_KIT_CMAKEDIR}
  PATH_VARS QUON_KIT_INCLUDEDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/kit/QuonScriptConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/kit/QuonScriptConfig.cmake ${PROJECT_BINARY_DIR}/kit/QuonScriptConfigVersion.cmake
  DESTINATION ${QUON_KIT_CMAKEDIR} COMPONENT kit)

# pkg-config: paths relative to the file itself, so that the kit can be
# moved (or installed under any DESTDIR) and still be found whole.
file(RELATIVE_PATH QUON_KIT_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" QUON_KIT_PC_TO_PREFIX "${QUON_KIT_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/quon-script.pc.in ${PROJECT_BINARY_DIR}/kit/quon-script.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kit/quon-script.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT kit)
