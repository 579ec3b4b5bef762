# offline.cmake: writes sw.js, the service worker, into a built page's folder.
#
#   cmake -DPAGE_DIR=<the page's tree> -P src/platform/web/offline.cmake
#
# The worker (from sw.js.in beside this script) caches the page's files, as
# page_files.txt beside it lists them; each name or pattern must match a file
# in PAGE_DIR. It carries the SHA-256 of each as built and caches none that
# the server gives otherwise. Its cache is named "vesk-VERSION-HASH":
# VERSION from index.html's <meta name="version">, which the build took from
# the root project's version, and HASH the first 16 hex digits of a SHA-256
# over the cached files' names and SHA-256s. Run it after every build of the
# page.
cmake_minimum_required(VERSION 3.16)

file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/page_files.txt" PAGE_PATTERNS REGEX "^[^#]")
set(HASH_DIGITS 16)

get_filename_component(PAGE_DIR "${PAGE_DIR}" ABSOLUTE)
if(NOT EXISTS "${PAGE_DIR}/index.html")
  message(FATAL_ERROR "offline.cmake: no index.html in PAGE_DIR '${PAGE_DIR}'")
endif()

file(STRINGS "${PAGE_DIR}/index.html" version_line REGEX "<meta name=\"version\" content=\"[^\"]+\">")
if(NOT version_line)
  message(FATAL_ERROR "offline.cmake: ${PAGE_DIR}/index.html has no version")
endif()
string(REGEX REPLACE ".*content=\"([^\"]+)\".*" "\\1" VERSION "${version_line}")

set(files)
foreach(pattern IN LISTS PAGE_PATTERNS)
  file(GLOB found RELATIVE "${PAGE_DIR}" "${PAGE_DIR}/${pattern}")
  if(NOT found)
    message(FATAL_ERROR "offline.cmake: no ${pattern} in PAGE_DIR '${PAGE_DIR}'")
  endif()
  list(APPEND files ${found})
endforeach()
list(SORT files)

# FILES: the worker's table of each file and its SHA-256; the folder's own
# address ('./') is index.html.
set(sums "")
file(SHA256 "${PAGE_DIR}/index.html" index_sum)
set(FILES "\n  './': '${index_sum}',")
foreach(file IN LISTS files)
  file(SHA256 "${PAGE_DIR}/${file}" sum)
  string(APPEND sums "${file} ${sum}\n")
  string(APPEND FILES "\n  '${file}': '${sum}',")
endforeach()
string(APPEND FILES "\n")
string(SHA256 BUILD_HASH "${sums}")
string(SUBSTRING "${BUILD_HASH}" 0 ${HASH_DIGITS} BUILD_HASH)

configure_file("${CMAKE_CURRENT_LIST_DIR}/sw.js.in" "${PAGE_DIR}/sw.js" @ONLY)
