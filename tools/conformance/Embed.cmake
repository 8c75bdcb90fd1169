# Writes OUT: every transcript of DIR as text in the program, the fragments
# first, so that `vexacomm conform` needs no files beside it.
file(GLOB files RELATIVE ${DIR} ${DIR}/*.vct)
list(SORT files)
list(REMOVE_ITEM files fragments.vct)
list(INSERT files 0 fragments.vct)
set(body "")
foreach(name ${files})
  file(READ ${DIR}/${name} text)
  string(APPEND body "    {\"${name}\", R\"vct(${text})vct\"},\n")
endforeach()
file(WRITE ${OUT}.new "// Made by Embed.cmake from tests/conformance; not edited by hand.\n#include \"Transcript.h\"\n\nnamespace conform {\nnamespace {\nstruct File {\n    const char* name;\n    const char* text;\n};\nconst File kFiles[] = {\n${body}};\n} // namespace\n\nbool BuiltInCases(std::vector<Case>* cases, std::string* error)\n{\n    std::vector<Fragment> fragments;\n    for (const File& f : kFiles) {\n        if (!ParseTranscript(f.name, f.text, &fragments, cases, error))\n            return false;\n    }\n    return true;\n}\n\n} // namespace conform\n")
# Unchanged text leaves the object alone.
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${OUT}.new ${OUT})
