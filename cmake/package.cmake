# What a client builds against once installed, and the Debian package.
#
# find_package(veltrane): the exported target veltrane::veltrane, its version
# file (a client built for 1.x takes any 1.y), and veltrane.pc for
# pkg-config. Both are relative to where they are installed.
include(CMakePackageConfigHelpers)
install(EXPORT veltraneTargets NAMESPACE veltrane::
  DESTINATION ${VELTRANE_CMAKE_INSTALL_DIR})
configure_package_config_file(cmake/veltraneConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/veltraneConfig.cmake
  INSTALL_DESTINATION ${VELTRANE_CMAKE_INSTALL_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/veltraneConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/veltraneConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/veltraneConfigVersion.cmake
  DESTINATION ${VELTRANE_CMAKE_INSTALL_DIR})

file(RELATIVE_PATH VELTRANE_PC_TO_PREFIX /prefix/${VELTRANE_PKGCONFIG_INSTALL_DIR} /prefix)
string(REGEX REPLACE "/$" "" VELTRANE_PC_TO_PREFIX ${VELTRANE_PC_TO_PREFIX})
configure_file(cmake/veltrane.pc.in ${CMAKE_CURRENT_BINARY_DIR}/veltrane.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/veltrane.pc DESTINATION ${VELTRANE_PKGCONFIG_INSTALL_DIR})

# cpack -G DEB (scripts/package configures for the prefix /usr): one package
# with the library, the stand-ins, Ombrel, the tape tool and what a client
# builds with. dpkg-shlibdeps works out the libraries' packages (libc6,
# libstdc++6, zlib1g, protobuf's and Boost's); Python is named here because
# only the interpreter loads Ombrel.
set(CPACK_PACKAGE_NAME veltrane)
set(CPACK_PACKAGE_VENDOR "veltrane")
set(CPACK_PACKAGE_CONTACT "veltrane developers <veltrane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Trading-API layer for Shanghai and Shenzhen stock strategies, C++ and Python")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
if(VELTRANE_PYTHON)
  # Ombrel is built for one minor version of Python.
  math(EXPR next_minor "${Python3_VERSION_MINOR} + 1")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}~), python3 (<< ${Python3_VERSION_MAJOR}.${next_minor})")
endif()
include(CPack)
