# Install rules beyond the libraries and headers: the CMake package
# (find_package(vocrel_rnr) -> vocrel_rnr::vocrel_rnr, vocrel_rnr::vocrel_rnr_static)
# and the pkg-config file vocrel_rnr.pc. Both are relocatable: they find the
# prefix from their own location, so `cmake --install --prefix` works too.
include(CMakePackageConfigHelpers)

set(VOCREL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vocrel_rnr)
install(EXPORT vocrel_rnrTargets NAMESPACE vocrel_rnr:: DESTINATION ${VOCREL_CMAKE_DIR})

file(WRITE ${PROJECT_BINARY_DIR}/install/vocrel_rnrConfig.cmake.in [[
@PACKAGE_INIT@
include("${CMAKE_CURRENT_LIST_DIR}/vocrel_rnrTargets.cmake")
check_required_components(vocrel_rnr)
]])
configure_package_config_file(${PROJECT_BINARY_DIR}/install/vocrel_rnrConfig.cmake.in
  ${PROJECT_BINARY_DIR}/install/vocrel_rnrConfig.cmake INSTALL_DESTINATION ${VOCREL_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/install/vocrel_rnrConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/install/vocrel_rnrConfig.cmake
              ${PROJECT_BINARY_DIR}/install/vocrel_rnrConfigVersion.cmake
        DESTINATION ${VOCREL_CMAKE_DIR})

# pkg-config: the prefix is found from the .pc file's own directory.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(VOCREL_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH VOCREL_PC_UP /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  string(REGEX REPLACE "/$" "" VOCREL_PC_UP "${VOCREL_PC_UP}")
  set(VOCREL_PC_PREFIX "\${pcfiledir}/${VOCREL_PC_UP}")
endif()
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/install/vocrel_rnr.pc CONTENT [[
prefix=@VOCREL_PC_PREFIX@
libdir=${prefix}/@CMAKE_INSTALL_LIBDIR@
includedir=${prefix}/@CMAKE_INSTALL_INCLUDEDIR@

Name: vocrel_rnr
Description: Fixed-point speech noise reduction for 16-bit PCM (8/16/48 kHz)
Version: @PROJECT_VERSION@
Libs: -L${libdir} -lvocrel_rnr
Cflags: -I${includedir}
]] @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/install/vocrel_rnr.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Installs into a temporary prefix and builds the C API example against it,
# through pkg-config and through find_package (shared and static).
if(VOCREL_TESTS AND NOT CMAKE_CROSSCOMPILING AND NOT VOCREL_SANITIZE AND NOT VOCREL_TSAN)
  add_test(NAME install_consumer
    COMMAND ${CMAKE_COMMAND} -E env CC=${CMAKE_C_COMPILER} CMAKE=${CMAKE_COMMAND}
            sh ${PROJECT_SOURCE_DIR}/tests/install_consumer.sh ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR})
endif()
