# The stand-in for the Audio Unit wrapper: drives the processor as that wrapper does, for tests
# and benchmarks. Not part of any shipped plug-in.
add_library(kto_au_host STATIC ${PROJECT_SOURCE_DIR}/Source/Host/AUStandIn.cpp)
target_include_directories(kto_au_host PUBLIC ${PROJECT_SOURCE_DIR}/Source/Host)
target_link_libraries(kto_au_host PUBLIC kto_plugin_code PRIVATE kto_warnings)
