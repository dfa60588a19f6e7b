# Where `cmake --install` puts each part, relative to the prefix, and the
# RUNPATHs that let the installed files find each other wherever the prefix is.
#
#   include/veltrane/           the public headers
#   <libdir>/libveltrane.so.1   the library (SONAME libveltrane.so.1)
#   <libdir>/veltrane/standins/ libitg.so, libquote.so and the simulated
#                               exchange: a folder of their own, so that they
#                               never shadow a vendor's libitg.so/libquote.so
#                               in the library directory
#   <libdir>/cmake/veltrane/    find_package(veltrane): target veltrane::veltrane
#   <libdir>/pkgconfig/         veltrane.pc
#   <python dir>/               Ombrel.so and its stubs Ombrel.pyi
#   bin/                        the tape tool quotetape
include(GNUInstallDirs)

set(VELTRANE_STANDIN_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/veltrane/standins)
set(VELTRANE_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/veltrane)
set(VELTRANE_PKGCONFIG_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Sets INSTALL_RPATH of TARGET, installed into FROM_DIR, to find the libraries
# installed into TO_DIR (both relative to the prefix) through $ORIGIN. A
# RUNPATH (the build uses --enable-new-dtags) still gives way to
# LD_LIBRARY_PATH, as in the build tree.
function(veltrane_install_runpath target from_dir to_dir)
  file(RELATIVE_PATH relative /prefix/${from_dir} /prefix/${to_dir})
  if(relative STREQUAL "")
    set(runpath "$ORIGIN")
  else()
    set(runpath "$ORIGIN/${relative}")
  endif()
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "${runpath}")
endfunction()
