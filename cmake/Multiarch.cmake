# SDL 1.2 and SDL_mixer 1.2 for a cross build against Debian's multiarch
# packages (the toolchain file sets VELMORANTE_MULTIARCH to the triplet).
#
# Debian cannot hold the SDL 1.2 -dev packages of two architectures at once:
# installing the foreign ones removes the host's, and the native build stops
# configuring. The run-time packages (libsdl1.2debian:ARCH,
# libsdl-mixer1.2:ARCH) install side by side, and the headers in
# /usr/include/SDL are the same for every architecture. So this writes what
# the -dev packages would have brought into the build folder:
#   multiarch/lib/libSDL.so, libSDL_mixer.so   links to the run-time .so.0 files
#   multiarch/pkgconfig/sdl.pc, SDL_mixer.pc    naming those links and the shared headers
# and puts that pkgconfig folder first on PKG_CONFIG_LIBDIR.
set(libdir /usr/lib/${VELMORANTE_MULTIARCH})
set(here ${CMAKE_BINARY_DIR}/multiarch)

foreach(runtime libSDL-1.2.so.0 libSDL_mixer-1.2.so.0)
  if(NOT EXISTS ${libdir}/${runtime})
    message(FATAL_ERROR "velmorante: ${libdir}/${runtime} is missing; install the run-time packages "
                        "(sh tools/install-deps.sh arm64)")
  endif()
endforeach()
if(NOT EXISTS /usr/include/SDL/SDL.h OR NOT EXISTS /usr/include/SDL/SDL_mixer.h)
  message(FATAL_ERROR "velmorante: the SDL headers in /usr/include/SDL are missing; install the host's "
                      "libsdl1.2-dev and libsdl-mixer1.2-dev (sh tools/install-deps.sh arm64)")
endif()
file(MAKE_DIRECTORY ${here}/lib)
file(CREATE_LINK ${libdir}/libSDL-1.2.so.0 ${here}/lib/libSDL.so SYMBOLIC)
file(CREATE_LINK ${libdir}/libSDL_mixer-1.2.so.0 ${here}/lib/libSDL_mixer.so SYMBOLIC)

# The flags of Debian's own sdl.pc and SDL_mixer.pc.
file(WRITE ${here}/pkgconfig/sdl.pc
"Name: sdl
Description: SDL 1.2, linked through ${here}/lib
Version: 1.2
Libs: -L${here}/lib -lSDL -lpthread
Cflags: -I/usr/include/SDL -D_GNU_SOURCE=1 -D_REENTRANT
")
file(WRITE ${here}/pkgconfig/SDL_mixer.pc
"Name: SDL_mixer
Description: SDL_mixer 1.2, linked through ${here}/lib
Version: 1.2
Requires: sdl
Libs: -L${here}/lib -lSDL_mixer
Cflags: -I/usr/include/SDL
")
set(ENV{PKG_CONFIG_LIBDIR} "${here}/pkgconfig:$ENV{PKG_CONFIG_LIBDIR}")
