# Writes OUT: a source file that embeds the files NAMES (comma-separated, in table order) from DIR
# with the assembler's .incbin, and the table of their addresses and byte lengths.
string(REPLACE "," ";" names "${NAMES}")

set(asm "")
set(decls "")
set(rows "")
set(i 0)
foreach(name ${names})
  set(path "${DIR}/${name}")
  file(SIZE "${path}" size)
  set(sym "kto_resource_${i}")
  string(APPEND asm
    "    \".globl ${sym}\\n\"\n"
    "    \".hidden ${sym}\\n\"\n"
    "    \".balign 16\\n\"\n"
    "    \"${sym}:\\n\"\n"
    "    \".incbin \\\"${path}\\\"\\n\"\n")
  string(APPEND decls "extern \"C\" const unsigned char ${sym}[] __attribute__ ((visibility (\"hidden\")));\n")
  string(APPEND rows "    { ${sym}, ${size} }, // ${name}\n")
  math(EXPR i "${i} + 1")
endforeach()

set(content "// Written by the build (Resources/EmbedResources.cmake); do not edit.
#include \"Resources.h\"

__asm__ (
    \".pushsection .rodata.kto_resources, \\\"a\\\", @progbits\\n\"
${asm}    \".popsection\\n\");

${decls}
namespace kto::resources
{
const Entry table[numEntries] = {
${rows}};
} // namespace kto::resources
")

file(WRITE "${OUT}" "${content}")
