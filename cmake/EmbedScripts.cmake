# Writes OUT: a C++ table of every .sql file under ROOT, keyed by its path relative to ROOT
# (for example "sqlite/schema.sql"). Used by `morvane init`.
file(GLOB_RECURSE scripts RELATIVE ${ROOT} ${ROOT}/*.sql)
list(SORT scripts)
set(body "// Generated from db/*.sql; do not edit.\n#include \"host/db_scripts.h\"\n\nnamespace morvane::host {\n\nconst std::map<std::string, std::string>& DatabaseScripts() {\n  static const std::map<std::string, std::string> scripts = {\n")
foreach(s IN LISTS scripts)
  file(READ ${ROOT}/${s} content)
  string(APPEND body "    {\"${s}\", R\"morvane_sql(${content})morvane_sql\"},\n")
endforeach()
string(APPEND body "  };\n  return scripts;\n}\n\n}  // namespace morvane::host\n")
file(WRITE ${OUT} "${body}")
