# tools/assets_music.cmake: the demo's music track, rendered by gensong from the
# score in tools/song/. The synthesizer is a library of its own so the tests
# can render excerpts of the same score.
pkg_check_modules(VORBIS_CODEC REQUIRED IMPORTED_TARGET vorbis ogg)   # the encoder's own calls
file(GLOB SONG_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/song/*.cpp)
add_library(vortalune_song STATIC ${SONG_SOURCES})
target_include_directories(vortalune_song PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(vortalune_song PUBLIC vortalune_base PkgConfig::VORBIS PkgConfig::VORBIS_CODEC m)
target_link_libraries(gensong PRIVATE vortalune_song)

# gensong writes the beat map data/vortalune.beats beside the track.
add_custom_command(
  OUTPUT ${VORTALUNE_DATA_DIR}/vortalune.ogg ${VORTALUNE_DATA_DIR}/vortalune.beats
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VORTALUNE_DATA_DIR}
  COMMAND gensong ${VORTALUNE_DATA_DIR}/vortalune.ogg
  DEPENDS gensong
  COMMENT "Rendering the music track data/vortalune.ogg and its beat map"
  VERBATIM)
list(APPEND VORTALUNE_ASSET_OUTPUTS ${VORTALUNE_DATA_DIR}/vortalune.ogg ${VORTALUNE_DATA_DIR}/vortalune.beats)
