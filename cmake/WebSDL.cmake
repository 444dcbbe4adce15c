# SDL 1.2 and SDL_mixer 1.2 for the WebAssembly build: the program compiles
# against their real headers (Debian's libsdl1.2-dev and libsdl-mixer1.2-dev,
# the same on every architecture), and src/web/sdl.cpp implements the calls
# it makes on the page. Emscripten's own SDL headers are SDL 1.3's, with other
# event numbers and surface fields, so they must not be the ones found.
#
# The include folder holds nothing but a link named SDL to the headers' folder:
# /usr/include itself would bring the host's C library along.
set(VELMORANTE_SDL12_HEADERS /usr/include/SDL CACHE PATH "SDL 1.2 and SDL_mixer 1.2 headers (SDL.h, SDL_mixer.h)")
foreach(header SDL.h SDL_mixer.h)
  if(NOT EXISTS ${VELMORANTE_SDL12_HEADERS}/${header})
    message(FATAL_ERROR "velmorante: the web build needs ${VELMORANTE_SDL12_HEADERS}/${header} "
                        "(apt-get install libsdl1.2-dev libsdl-mixer1.2-dev)")
  endif()
endforeach()
set(sdl_include ${CMAKE_BINARY_DIR}/sdl12-include)
file(MAKE_DIRECTORY ${sdl_include})
file(CREATE_LINK ${VELMORANTE_SDL12_HEADERS} ${sdl_include}/SDL SYMBOLIC)

add_library(PkgConfig::SDL INTERFACE IMPORTED)
target_include_directories(PkgConfig::SDL INTERFACE ${sdl_include})
