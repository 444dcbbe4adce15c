# The WebAssembly edition, built with Emscripten (emcmake cmake ...):
#   velmorante      the demo's page in VELMORANTE_WEB_DIR: index.html, page.js,
#                   page.css, velmorante.js, velmorante.wasm, data/
#   the core's unit tests, built again for wasm32 and run under node
#   the page's tests in headless Chromium (with the desktop build's tools)
set(VELMORANTE_WEB_DIR ${PROJECT_SOURCE_DIR}/build/web CACHE PATH "Where the page is put together")
set(VELMORANTE_DESKTOP_BUILD "" CACHE PATH "A desktop build of the same tree (its velmorante-capture, noise_reference, velmorante_bench), for the browser tests")
set(VELMORANTE_NODE /usr/bin/node CACHE FILEPATH "node, to run the unit tests")

# The wasm code: SIMD and bulk memory (memcpy as one instruction) are in every
# browser that runs this page. No flag here changes a result: wasm has no fused
# multiply-add and its floating point is IEEE single and double throughout.
set(wasm_code -msimd128 -mbulk-memory)
target_compile_options(velmorante_core PRIVATE ${wasm_code})

# ---- The page -------------------------------------------------------------------------
# 320 MB: the frame volume (196,608,000 bytes), the animation store (32 MiB),
# the display and its canvas copy, the sound loop, the stack. Fixed, so that
# the canvas can be handed views of it that never go stale.
set(WEB_MEMORY 335544320)
add_executable(velmorante src/main.cpp)
target_link_libraries(velmorante PRIVATE velmorante_core)
target_compile_options(velmorante PRIVATE ${wasm_code})
target_link_options(velmorante PRIVATE
  -sASYNCIFY -sASYNCIFY_IGNORE_INDIRECT=1  # SDL_Flip yields to the browser; nothing on that path is called indirectly
  -sINITIAL_MEMORY=${WEB_MEMORY} -sALLOW_MEMORY_GROWTH=0
  -sENVIRONMENT=web -sINVOKE_RUN=0 -sFORCE_FILESYSTEM=1 -sUSE_SDL=0
  "-sEXPORTED_RUNTIME_METHODS=['callMain','FS']")
set_target_properties(velmorante PROPERTIES SUFFIX .js RUNTIME_OUTPUT_DIRECTORY ${VELMORANTE_WEB_DIR})

# The page's own files and the data files beside the program.
set(page_files index.html page.js page.css)
set(data_files robotrk.fli fonts16.bin tarnwhisk.bmp fonts16.LICENSE.txt)
set(page_outputs "")
foreach(f ${page_files})
  add_custom_command(OUTPUT ${VELMORANTE_WEB_DIR}/${f}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/src/web/${f} ${VELMORANTE_WEB_DIR}/${f}
    DEPENDS ${PROJECT_SOURCE_DIR}/src/web/${f})
  list(APPEND page_outputs ${VELMORANTE_WEB_DIR}/${f})
endforeach()
foreach(f ${data_files})
  add_custom_command(OUTPUT ${VELMORANTE_WEB_DIR}/data/${f}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/data/${f} ${VELMORANTE_WEB_DIR}/data/${f}
    DEPENDS ${PROJECT_SOURCE_DIR}/data/${f})
  list(APPEND page_outputs ${VELMORANTE_WEB_DIR}/data/${f})
endforeach()
add_custom_target(web_page ALL DEPENDS ${page_outputs})
add_dependencies(velmorante web_page)

# ---- The core's unit tests under node ----------------------------------------------------
# GoogleTest from its Debian sources, compiled here for wasm32.
set(GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources (Debian: googletest)")
if(NOT EXISTS ${GTEST_SOURCE}/CMakeLists.txt)
  message(STATUS "velmorante: wasm unit tests off, missing: GoogleTest's sources in ${GTEST_SOURCE} (googletest)")
  return()
endif()
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# The tests of the core: every tests/test_*.cpp but test_capture.cpp, which runs
# the capture tool (a desktop program) as a process; with them, the tests of
# this platform file.
file(GLOB unit_tests CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/test_*.cpp)
list(REMOVE_ITEM unit_tests ${PROJECT_SOURCE_DIR}/tests/test_capture.cpp)
add_executable(velmorante_tests ${PROJECT_SOURCE_DIR}/tests/support.cpp ${unit_tests}
                                ${PROJECT_SOURCE_DIR}/tests/web/test_platform.cpp)
target_include_directories(velmorante_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(velmorante_tests PRIVATE velmorante_core gtest_main)
target_compile_definitions(velmorante_tests PRIVATE VELMORANTE_TEST_FLI="${PROJECT_SOURCE_DIR}/tests/data/fli"
                                                    VELMORANTE_DATA="${PROJECT_SOURCE_DIR}/data")
# Files in memory, data/ and tests/data/ mounted from the host (tests/web/node_files.js.in),
# memory that grows with what the tests allocate, node's exit status.
configure_file(${PROJECT_SOURCE_DIR}/tests/web/node_files.js.in ${CMAKE_BINARY_DIR}/node_files.js @ONLY)
target_link_options(velmorante_tests PRIVATE -lnodefs.js --pre-js ${CMAKE_BINARY_DIR}/node_files.js
                    -sENVIRONMENT=node -sEXIT_RUNTIME=1 -sUSE_SDL=0
                    -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=${WEB_MEMORY})
set_property(TARGET velmorante_tests APPEND PROPERTY LINK_DEPENDS ${CMAKE_BINARY_DIR}/node_files.js)
# The tests write cc['A'] and the like: char subscripts that clang warns of.
target_compile_options(velmorante_tests PRIVATE -Wno-char-subscripts)
set_target_properties(velmorante_tests PROPERTIES SUFFIX .js
  CROSSCOMPILING_EMULATOR "${VELMORANTE_NODE};--no-experimental-fetch")

enable_testing()
include(GoogleTest)
gtest_discover_tests(velmorante_tests DISCOVERY_TIMEOUT 120 TEST_PREFIX wasm. PROPERTIES TIMEOUT 600)

# ---- The page in a browser ------------------------------------------------------------------
set(PY /usr/bin/python3)
if(VELMORANTE_DESKTOP_BUILD)
  add_test(NAME web.browser
    COMMAND ${PY} ${PROJECT_SOURCE_DIR}/tests/web/test_page.py ${VELMORANTE_WEB_DIR}
            ${VELMORANTE_DESKTOP_BUILD}/velmorante-capture ${VELMORANTE_DESKTOP_BUILD}/tests/noise_reference
            ${PROJECT_SOURCE_DIR}/data)
  set_tests_properties(web.browser PROPERTIES TIMEOUT 1800 RUN_SERIAL TRUE)
endif()
