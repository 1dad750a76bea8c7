// The database scripts of db/, compiled into the program so that `morvane init` needs no files
// beside the executable. Keys are paths relative to db/, such as "sqlite/schema.sql".
#pragma once

#include <map>
#include <string>

namespace morvane::provision {

const std::map<std::string, std::string>& DatabaseScripts();

}  // namespace morvane::provision
