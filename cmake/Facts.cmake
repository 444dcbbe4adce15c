# Facts that the build, the install, the page and the tests share, each from
# its one owner.
#
# The program's own (its file names, its picture and its sound) are stated in
# its headers and read from there:
#   VELMORANTE_DATA_FILES   the files the program opens, in the order it reads them
#   VELMORANTE_SCREEN_W, VELMORANTE_SCREEN_H, VELMORANTE_NOISE_BYTES,
#   VELMORANTE_AUDIO_RATE, VELMORANTE_AUDIO_CHANNELS
# The build's own:
#   VELMORANTE_INSTALL_DATADIR, VELMORANTE_INSTALL_PROGDIR   the install's layout,
#                           relative to the prefix
#   VELMORANTE_BIN_TO_DATA, VELMORANTE_BIN_TO_PROGRAM   the same, seen from bin/
#   VELMORANTE_ICON_SIZES   the sizes of the icons in tools/install/icons/
#   VELMORANTE_WEB_MEMORY_MB  the page's fixed memory
# velmorante_write_facts() puts them, with the version, where the Python tests
# import them (velmorante_facts.py in the build folder).

# The value of `constexpr ... NAME = VALUE;` (quotes dropped) in src/HEADER.
function(velmorante_constant var header name)
  file(READ ${PROJECT_SOURCE_DIR}/src/${header} text)
  set(statement "\nconstexpr [^=\n]* ${name}(\\[\\])? = \"?([^\";\n]*)")
  string(REGEX MATCHALL "${statement}" found "${text}")
  list(LENGTH found count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "velmorante: src/${header} should state ${name} once; found ${count}")
  endif()
  string(REGEX MATCH "${statement}" found "${text}")
  set(value "${CMAKE_MATCH_2}")
  if(value MATCHES "^0x")
    math(EXPR value "${value}")
  endif()
  set(${var} "${value}" PARENT_SCOPE)
endfunction()

velmorante_constant(font Plasma.h FONT_FILE)
velmorante_constant(texture Plasma.h TEXTURE_FILE)
velmorante_constant(animation FLIplay.h FLI_FILE)
set(VELMORANTE_DATA_FILES ${font} ${texture} ${animation})
velmorante_constant(VELMORANTE_SCREEN_W Plasma.h SCREEN_W)
velmorante_constant(VELMORANTE_SCREEN_H Plasma.h SCREEN_H)
velmorante_constant(VELMORANTE_NOISE_BYTES Plasma.h NOISE_BYTES)
velmorante_constant(VELMORANTE_AUDIO_RATE Plasma.h AUDIO_RATE)
velmorante_constant(VELMORANTE_AUDIO_CHANNELS Plasma.h AUDIO_CHANNELS)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/src/Plasma.h ${PROJECT_SOURCE_DIR}/src/FLIplay.h)

include(GNUInstallDirs)
set(VELMORANTE_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/velmorante)
set(VELMORANTE_INSTALL_PROGDIR ${CMAKE_INSTALL_LIBEXECDIR}/velmorante)
file(RELATIVE_PATH VELMORANTE_BIN_TO_DATA /${CMAKE_INSTALL_BINDIR} /${VELMORANTE_INSTALL_DATADIR})
file(RELATIVE_PATH VELMORANTE_BIN_TO_PROGRAM /${CMAKE_INSTALL_BINDIR} /${VELMORANTE_INSTALL_PROGDIR}/velmorante)

file(GLOB icons RELATIVE ${PROJECT_SOURCE_DIR}/tools/install/icons
     ${PROJECT_SOURCE_DIR}/tools/install/icons/velmorante-*.png)
set(VELMORANTE_ICON_SIZES "")
foreach(icon ${icons})
  string(REGEX REPLACE "^velmorante-([0-9]+)\\.png$" "\\1" size ${icon})
  list(APPEND VELMORANTE_ICON_SIZES ${size})
endforeach()
list(SORT VELMORANTE_ICON_SIZES COMPARE NATURAL)

# 320 MB: the frame volume (196,608,000 bytes), the animation store (32 MiB),
# the display and its canvas copy, the sound loop, the stack. Fixed, so that
# the canvas can be handed views of it that never go stale.
set(VELMORANTE_WEB_MEMORY_MB 320)

function(velmorante_write_facts)
  string(REPLACE ";" ", " VELMORANTE_ICON_SIZES_PY "${VELMORANTE_ICON_SIZES}")
  string(REPLACE ";" "\", \"" VELMORANTE_DATA_FILES_PY "${VELMORANTE_DATA_FILES}")
  configure_file(${PROJECT_SOURCE_DIR}/tests/velmorante_facts.py.in
                 ${PROJECT_BINARY_DIR}/python/velmorante_facts.py @ONLY)
endfunction()
