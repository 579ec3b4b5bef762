# port.cmake: the port layer's SDL 1.2 as vesk_sdl, for a platform that has
# no SDL of its own (web/, win32/): the shared part (port.cpp), the null
# video driver (null.cpp) and the platform's back end, given by the caller.
set(VESK_PORT_DIR ${CMAKE_CURRENT_LIST_DIR})
function(vesk_port_sdl backend)
  set(port ${VESK_PORT_DIR})
  add_library(vesk_sdl STATIC ${port}/port.cpp ${port}/null.cpp ${backend})
  # port/ first on the include path: <SDL.h> is the port layer's (vesk.h
  # and port/SDL.h stop the compile if it is not).
  target_include_directories(vesk_sdl BEFORE PUBLIC ${port})
  # The channel arithmetic shared with the screen library.
  target_include_directories(vesk_sdl PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_compile_definitions(vesk_sdl PUBLIC VESK_SDL_PORT)
endfunction()
