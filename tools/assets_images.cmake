# The demo's images, written into data/ by tools/genimages.cpp.
set(VORTALUNE_IMAGE_FILES
  ${VORTALUNE_DATA_DIR}/font.png
  ${VORTALUNE_DATA_DIR}/font_mask.png
  ${VORTALUNE_DATA_DIR}/vortalune.png
  ${VORTALUNE_DATA_DIR}/credits.png
  ${VORTALUNE_DATA_DIR}/blue_cross.png
  ${VORTALUNE_DATA_DIR}/pastel.png
  ${VORTALUNE_DATA_DIR}/bumpy.png
  ${VORTALUNE_DATA_DIR}/sprite01_mask.png)
add_custom_command(
  OUTPUT ${VORTALUNE_IMAGE_FILES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VORTALUNE_DATA_DIR}
  COMMAND genimages ${VORTALUNE_DATA_DIR}
  DEPENDS genimages
  COMMENT "Generating the demo's images in data/"
  VERBATIM)
list(APPEND VORTALUNE_ASSET_OUTPUTS ${VORTALUNE_IMAGE_FILES})
# The generator does a few hundred million float operations; keep it quick in
# debug and sanitizer builds too (the tests run it).
target_compile_options(genimages PRIVATE -O2)
