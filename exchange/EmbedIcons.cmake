# Writes OUTPUT, a C++ source holding the 80 icons of the icon list
# (resources/icons/iconNN.png) as byte arrays, for the core's exporters,
# which cannot use Qt resources.
#   cmake -DICON_DIR=... -DOUTPUT=... -P EmbedIcons.cmake
set(body "// Generated from resources/icons by exchange/EmbedIcons.cmake. Do not edit.\n")
string(APPEND body "#include \"exchange/IconData.h\"\n\nnamespace qv::exchange {\n\nnamespace {\n")
set(table "")
foreach(i RANGE 0 79)
  if(i LESS 10)
    set(name "icon0${i}")
  else()
    set(name "icon${i}")
  endif()
  file(READ "${ICON_DIR}/${name}.png" hex HEX)
  string(LENGTH "${hex}" len)
  math(EXPR size "${len} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND body "const unsigned char ${name}[] = {${bytes}};\n")
  string(APPEND table "    {${name}, ${size}},\n")
endforeach()
string(APPEND body "\n} // namespace\n\nconst IconBytes kIcons[kIconCount] = {\n${table}};\n\n} // namespace qv::exchange\n")
file(WRITE "${OUTPUT}.tmp" "${body}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
