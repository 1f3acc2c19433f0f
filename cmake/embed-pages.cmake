# Embeds the library's page templates into a C++ source, run at build time:
#   cmake -DOUTPUT=pagefiles.cpp -DFOLDER=converter/page -DPAGES=flight,index -P embed-pages.cmake
# Each FOLDER/NAME.html becomes `pagefiles::NAME`, a std::string_view of its
# bytes, with the style sheets and scripts it links (<link rel="stylesheet"
# href="X"> and <script src="X"></script>, files of FOLDER) put inline, so
# that every page is one file that opens offline. The bytes are the files'
# own, the same on every system.
function(inline_linked text_var)
  set(text "${${text_var}}")
  string(REGEX MATCHALL "<link rel=\"stylesheet\" href=\"[^\"]+\">|<script src=\"[^\"]+\"></script>" links "${text}")
  foreach(link IN LISTS links)
    string(REGEX REPLACE ".*(href|src)=\"([^\"]+)\".*" "\\2" file "${link}")
    file(READ "${FOLDER}/${file}" content)
    if(link MATCHES "^<link")
      string(REPLACE "${link}" "<style>\n${content}</style>" text "${text}")
    else()
      string(REPLACE "${link}" "<script>\n${content}</script>" text "${text}")
    endif()
  endforeach()
  set(${text_var} "${text}" PARENT_SCOPE)
endfunction()

set(source "// Made by cmake/embed-pages.cmake from ${FOLDER_NAME}; edit those files, not this one.\n")
string(APPEND source "#include \"pagefiles.h\"\n\nnamespace pagefiles {\nnamespace {\n")
set(views "")
string(REPLACE "," ";" PAGES "${PAGES}")
foreach(page IN LISTS PAGES)
  file(READ "${FOLDER}/${page}.html" text)
  inline_linked(text)
  string(LENGTH "${text}" length)
  # Through a file, so that the bytes are written as hexadecimal whatever they are.
  file(WRITE "${OUTPUT}.${page}.tmp" "${text}")
  file(READ "${OUTPUT}.${page}.tmp" hex HEX)
  file(REMOVE "${OUTPUT}.${page}.tmp")
  string(LENGTH "${hex}" digits)
  math(EXPR length "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
  string(APPEND source "const char ${page}Bytes[] = {\n${bytes}0};\n")
  string(APPEND views "const std::string_view ${page}(${page}Bytes, ${length});\n")
endforeach()
string(APPEND source "}  // namespace\n\n${views}\n}  // namespace pagefiles\n")
file(WRITE "${OUTPUT}.new" "${source}")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
