# The generated assets: the font test compares against the installed file, and metaflac reads
# the six impulse responses that the build leaves in the build tree.
get_target_property(KTO_GENERATED_DIR kto_resources KTO_GENERATED_DIR)
get_target_property(KTO_FONT_PATH kto_resources KTO_FONT_FILE)
target_compile_definitions(tessel_tests PRIVATE KTO_FONT_FILE="${KTO_FONT_PATH}")

find_program(METAFLAC metaflac)
if(METAFLAC)
  add_test(NAME resources_metaflac
    COMMAND ${CMAKE_COMMAND} -DMETAFLAC=${METAFLAC} -DDIR=${KTO_GENERATED_DIR}
      -P ${CMAKE_CURRENT_SOURCE_DIR}/resources/metaflac.cmake)
endif()
