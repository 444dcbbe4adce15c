# The WebAssembly edition's page, built with Emscripten (emcmake cmake ...)
# into VELMORANTE_WEB_DIR: index.html, page.js, page.css, velmorante.js,
# velmorante.wasm, and data/. Its tests are in tests/web/.
set(VELMORANTE_WEB_DIR ${PROJECT_SOURCE_DIR}/build/web CACHE PATH "Where the page is put together")

# The wasm code: SIMD and bulk memory (memcpy as one instruction) are in every
# browser that runs this page. No flag here changes a result: wasm has no fused
# multiply-add and its floating point is IEEE single and double throughout.
set(wasm_code -msimd128 -mbulk-memory)
target_compile_options(velmorante_core PRIVATE ${wasm_code})
target_compile_options(velmorante PRIVATE ${wasm_code})
target_link_options(velmorante PRIVATE
  -sASYNCIFY -sASYNCIFY_IGNORE_INDIRECT=1  # SDL_Flip yields to the browser; nothing on that path is called indirectly
  -sINITIAL_MEMORY=${VELMORANTE_WEB_MEMORY_MB}MB -sALLOW_MEMORY_GROWTH=0
  -sENVIRONMENT=web -sINVOKE_RUN=0 -sFORCE_FILESYSTEM=1 -sUSE_SDL=0
  "-sEXPORTED_RUNTIME_METHODS=['callMain','FS']")
set_target_properties(velmorante PROPERTIES SUFFIX .js RUNTIME_OUTPUT_DIRECTORY ${VELMORANTE_WEB_DIR})

# The page's own files beside the program (page.js learns the data files and
# the memory from cmake/Facts.cmake), and the data files with the font's licence.
string(REPLACE ";" "', '" VELMORANTE_DATA_FILES_JS "${VELMORANTE_DATA_FILES}")
configure_file(${PROJECT_SOURCE_DIR}/src/web/page.js ${VELMORANTE_WEB_DIR}/page.js @ONLY)
set(page_outputs "")
foreach(f index.html page.css)
  add_custom_command(OUTPUT ${VELMORANTE_WEB_DIR}/${f}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/src/web/${f} ${VELMORANTE_WEB_DIR}/${f}
    DEPENDS ${PROJECT_SOURCE_DIR}/src/web/${f})
  list(APPEND page_outputs ${VELMORANTE_WEB_DIR}/${f})
endforeach()
foreach(f ${VELMORANTE_DATA_FILES} fonts16.LICENSE.txt)
  add_custom_command(OUTPUT ${VELMORANTE_WEB_DIR}/data/${f}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/data/${f} ${VELMORANTE_WEB_DIR}/data/${f}
    DEPENDS ${PROJECT_SOURCE_DIR}/data/${f})
  list(APPEND page_outputs ${VELMORANTE_WEB_DIR}/data/${f})
endforeach()
add_custom_target(web_page ALL DEPENDS ${page_outputs})
add_dependencies(velmorante web_page)
