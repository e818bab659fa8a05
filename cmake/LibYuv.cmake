# libyuv: SIMD colour conversion (chosen at run time for the CPU), used where frames change
# between packed RGB and YUV. Debian 12's libyuv-dev ships the header and libyuv.so without a
# pkg-config file; later packagings may add one, so that is tried first. Defines the
# imported target Tavrion::libyuv.
include_guard(GLOBAL)
pkg_check_modules(LIBYUV QUIET IMPORTED_TARGET GLOBAL libyuv)
if(LIBYUV_FOUND)
  add_library(Tavrion::libyuv ALIAS PkgConfig::LIBYUV)
  return()
endif()
find_path(LIBYUV_INCLUDE_DIR libyuv.h)
# The shared library first: the static archive of some packagings is not built for
# position-independent code.
find_library(LIBYUV_LIBRARY NAMES libyuv.so yuv)
if(NOT LIBYUV_INCLUDE_DIR OR NOT LIBYUV_LIBRARY)
  message(FATAL_ERROR "libyuv not found (Debian: apt-get install libyuv-dev)")
endif()
add_library(Tavrion::libyuv UNKNOWN IMPORTED)
set_target_properties(Tavrion::libyuv PROPERTIES IMPORTED_LOCATION "${LIBYUV_LIBRARY}"
                      INTERFACE_INCLUDE_DIRECTORIES "${LIBYUV_INCLUDE_DIR}")
message(STATUS "libyuv: ${LIBYUV_LIBRARY}")
