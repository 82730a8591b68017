# Writes OUTPUT: a C++ source that registers each of FILES as a program resource of
# type "TESSALINE", named by its path relative to BASE (as "layouts/main.layout").
# Run with cmake -P.
set(out "// Made by cmake/embed_resources.cmake from the files it names.\n")
string(APPEND out "#include \"platform/resources/resources.h\"\n\nnamespace {\n\n")
set(index 0)
foreach(file ${FILES})
  file(RELATIVE_PATH name ${BASE} ${file})
  file(READ ${file} hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
  string(APPEND out "const unsigned char data${index}[] = {\n${bytes}};\n")
  string(APPEND out "const platform::ResourceRegistration resource${index}(\"${name}\", \"TESSALINE\", data${index},\n    sizeof data${index});\n\n")
  math(EXPR index "${index} + 1")
endforeach()
string(APPEND out "}  // namespace\n")
file(WRITE ${OUTPUT} "${out}")
