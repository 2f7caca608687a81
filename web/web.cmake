# web/web.cmake: the browser build (emcmake cmake, scripts/web.sh does it): the
# show's floors over the GL layer on WebGL 2 and Web Audio, and the page.
# The C libraries come from VORTALUNE_WEB_DEPS (scripts/web-deps.sh builds them).
set(VORTALUNE_WEB_DEPS "${CMAKE_BINARY_DIR}/deps" CACHE PATH "zlib, libpng, libogg and libvorbis built for WebAssembly")
set(VORTALUNE_WEB_FLOORS gl base math gfx sound iso model path app web)
foreach(floor ${VORTALUNE_WEB_FLOORS})
  vortalune_add_floor(${floor} "")
endforeach()

add_library(vortalune_web_deps INTERFACE)
target_include_directories(vortalune_web_deps INTERFACE ${VORTALUNE_WEB_DEPS}/include)
target_link_libraries(vortalune_web_deps INTERFACE
  ${VORTALUNE_WEB_DEPS}/lib/libvorbisfile.a ${VORTALUNE_WEB_DEPS}/lib/libvorbis.a ${VORTALUNE_WEB_DEPS}/lib/libogg.a
  ${VORTALUNE_WEB_DEPS}/lib/libpng16.a ${VORTALUNE_WEB_DEPS}/lib/libz.a)
target_link_libraries(vortalune_gfx PUBLIC vortalune_web_deps)
target_link_libraries(vortalune_sound PUBLIC vortalune_web_deps)
# The field's rows are evaluated four (or eight) lanes at a time with SSE
# intrinsics, which WebAssembly's SIMD carries out.
target_compile_options(vortalune_iso PRIVATE -msimd128 -msse -msse2)

option(VORTALUNE_WEB_ASSERTIONS "Link the page with emscripten's run-time checks (for finding faults)" OFF)

add_executable(vortalune-web web/web_main.cpp)
target_link_libraries(vortalune-web PRIVATE vortalune_web)
set_target_properties(vortalune-web PROPERTIES OUTPUT_NAME vortalune SUFFIX ".js")
target_link_options(vortalune-web PRIVATE
  -sMIN_WEBGL_VERSION=2 -sMAX_WEBGL_VERSION=2
  -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=67108864
  -sSTB_IMAGE=1 -sFORCE_FILESYSTEM=1
  -sENVIRONMENT=web
  "-sEXPORTED_RUNTIME_METHODS=['FS','ccall','addRunDependency','removeRunDependency']"
  "-sEXPORTED_FUNCTIONS=['_main','_malloc','_free','_stbi_load','_stbi_load_from_memory','_stbi_image_free','_webStartClicked','_webToggleCaption','_webMusicSeconds','_webScene','_webSceneAt','_webMarkBeat','_webTogglePause','_webSeek','_webSeekScene','_webRestart','_webToggleMute','_webResize','_webTrackSeconds','_webPhase','_webPrepared','_webReadFrame']")
if(VORTALUNE_WEB_ASSERTIONS)
  target_link_options(vortalune-web PRIVATE -sASSERTIONS=2 -g2)
endif()

# The page beside the program: index.html and the assets list it fetches.
add_custom_command(TARGET vortalune-web POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_SOURCE_DIR}/web/index.html ${CMAKE_BINARY_DIR}/index.html
  VERBATIM)
