# Warnings for our own code. JUCE's module sources keep JUCE's recommended set, so targets that
# also compile JUCE modules (the plug-in's shared code) take these per source file instead.
set(KTO_WARNING_FLAGS -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wconversion -Wno-sign-conversion)

add_library(kto_warnings INTERFACE)
target_compile_options(kto_warnings INTERFACE ${KTO_WARNING_FLAGS})

# kto_warn_sources(file...): our warnings on these files only.
function(kto_warn_sources)
  set_source_files_properties(${ARGN} PROPERTIES COMPILE_OPTIONS "${KTO_WARNING_FLAGS}")
endfunction()
