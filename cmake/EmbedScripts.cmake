# Writes OUT: a C++ table of every .sql file under ROOT, keyed by its path relative to ROOT
# (for example "sqlite/schema.sql"). Used by `morvane init`.
#
# A line "-- include PATH" (PATH relative to ROOT) stands for the text of that file, so that the
# rows every product shares are written once; the files under ROOT/shared are such pieces only,
# not scripts of their own.
file(GLOB_RECURSE scripts RELATIVE ${ROOT} ${ROOT}/*.sql)
list(FILTER scripts EXCLUDE REGEX "^shared/")
list(SORT scripts)
set(body "// Generated from db/*.sql; do not edit.\n#include \"provision/db_scripts.h\"\n\nnamespace morvane::provision {\n\nconst std::map<std::string, std::string>& DatabaseScripts() {\n  static const std::map<std::string, std::string> scripts = {\n")
foreach(s IN LISTS scripts)
  file(READ ${ROOT}/${s} content)
  string(REGEX MATCHALL "-- include [^\n]+" includes "${content}")
  foreach(line IN LISTS includes)
    string(REPLACE "-- include " "" piece_path "${line}")
    if(NOT EXISTS ${ROOT}/${piece_path})
      message(FATAL_ERROR "${s}: there is no ${piece_path} to include")
    endif()
    file(READ ${ROOT}/${piece_path} piece)
    string(REPLACE "${line}" "${piece}" content "${content}")
  endforeach()
  string(APPEND body "    {\"${s}\", R\"morvane_sql(${content})morvane_sql\"},\n")
endforeach()
string(APPEND body "  };\n  return scripts;\n}\n\n}  // namespace morvane::provision\n")
file(WRITE ${OUT} "${body}")
