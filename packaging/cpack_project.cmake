# cpack_project.cmake: read by cpack before it writes a package.
#
# For the Debian package, sets CPACK_DEBIAN_PACKAGE_DEPENDS: the libraries the
# built program links, as dpkg-shlibdeps names their packages, less the SDL
# 1.2 packages (CPACK_VESK_SDL_PACKAGES), plus CPACK_VESK_SDL_DEPENDS, which
# lets either SDL 1.2 runtime satisfy it. Fails the packaging when
# dpkg-shlibdeps (package dpkg-dev) is missing or fails.
#
# A cross build (CPACK_VESK_SYSROOT set) takes its libraries from the
# sysroot, for the package's architecture: dpkg-shlibdeps looks for them
# there (-S, a package build tree), and reads their symbols and shlibs files
# from its DEBIAN/ (scripts/debian_root.sh extract gathers them there from
# the packages' control archives, since the sysroot's dpkg database is empty).
if(CPACK_GENERATOR STREQUAL "DEB")
  include(${CPACK_VESK_BINARY_FILE}) # sets VESK_BINARY
  find_program(VESK_SHLIBDEPS dpkg-shlibdeps)
  if(NOT VESK_SHLIBDEPS)
    message(FATAL_ERROR "dpkg-shlibdeps not found: install dpkg-dev")
  endif()
  # dpkg-shlibdeps wants a debian/control in the folder it runs in.
  file(MAKE_DIRECTORY ${CPACK_VESK_SHLIBDEPS_DIR}/debian)
  file(WRITE ${CPACK_VESK_SHLIBDEPS_DIR}/debian/control "")
  set(excluded "")
  foreach(package IN LISTS CPACK_VESK_SDL_PACKAGES)
    list(APPEND excluded "-x${package}")
  endforeach()
  set(cross "")
  if(CPACK_VESK_SYSROOT)
    set(cross ${CMAKE_COMMAND} -E env DEB_HOST_ARCH=${CPACK_DEBIAN_PACKAGE_ARCHITECTURE})
    list(APPEND excluded -S${CPACK_VESK_SYSROOT})
  endif()
  execute_process(
    COMMAND ${cross} ${VESK_SHLIBDEPS} -O ${excluded} -e ${VESK_BINARY}
    WORKING_DIRECTORY ${CPACK_VESK_SHLIBDEPS_DIR}
    RESULT_VARIABLE status
    OUTPUT_VARIABLE output
    ERROR_VARIABLE errors
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT status EQUAL 0 OR NOT output MATCHES "^shlibs:Depends=(.*)$")
    message(FATAL_ERROR "dpkg-shlibdeps failed on ${VESK_BINARY}:\n${output}\n${errors}")
  endif()
  set(libraries "${CMAKE_MATCH_1}")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${libraries}, ${CPACK_VESK_SDL_DEPENDS}")
  message(STATUS "Depends: ${CPACK_DEBIAN_PACKAGE_DEPENDS}")
endif()
