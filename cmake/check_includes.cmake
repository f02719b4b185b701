# Refuses a quoted include that climbs out of its folder (`#include "../app/cli.h"`): a quoted
# include searches the including file's own folder first, so such a line would reach a layer the
# including one does not link, past the include directories that keep the layers apart.
#   cmake -DSOURCE_DIR=. -P check_includes.cmake
# Every C++ file of the tree but the build trees (build*/ at the top) and installed packages.
cmake_policy(SET CMP0009 NEW)
get_filename_component(root "${SOURCE_DIR}" ABSOLUTE)
file(GLOB_RECURSE files RELATIVE "${root}" "${root}/*.cc" "${root}/*.h")
list(FILTER files EXCLUDE REGEX "^(build[^/]*|\\.git)/|node_modules/")
set(found "")
foreach(shown ${files})
  file(STRINGS "${root}/${shown}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]*\\.\\./")
  foreach(line ${lines})
    string(APPEND found "  ${shown}: ${line}\n")
  endforeach()
endforeach()
if(found)
  message(FATAL_ERROR "an include that leaves its folder; name the header as \"FOLDER/name.h\":\n"
                      "${found}")
endif()
