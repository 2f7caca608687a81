# The character: model and skin, written by tools/gencharacter.cpp.
add_custom_command(
  OUTPUT ${VORTALUNE_DATA_DIR}/ovrin.mdl ${VORTALUNE_DATA_DIR}/ovrin_tex.png
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VORTALUNE_DATA_DIR}
  COMMAND gencharacter ${VORTALUNE_DATA_DIR}
  DEPENDS gencharacter
  COMMENT "Generating the character model and skin"
  VERBATIM)
list(APPEND VORTALUNE_ASSET_OUTPUTS ${VORTALUNE_DATA_DIR}/ovrin.mdl ${VORTALUNE_DATA_DIR}/ovrin_tex.png)
