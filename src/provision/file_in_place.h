// What stands at the path where a SQLite database is to be created, and whether `init --force`
// may put a new database in its place: only a regular file that no connection holds open is
// replaced. Replacing anything else would do harm that no later step can undo: a FIFO or a device
// is swapped for a plain file, a database a running host holds open is swapped under it (the host
// goes on writing to the old file, now nameless, and every change is lost). Internal to
// provisioning. No state.
#pragma once

#include <filesystem>
#include <string>

namespace morvane::provision {

struct FileInPlace {
  enum class Kind {
    Nothing,      // no name stands there
    RegularFile,  // a regular file, or a symbolic link that leads to one
    LinkToNothing,
    Other,        // a directory, FIFO, device, socket, or a symbolic link to one of them
  };
  Kind kind = Kind::Nothing;
  std::filesystem::path file;  // RegularFile: the file itself (a link's target, resolved)
  std::string what;            // LinkToNothing, Other: what it is, for a message ("a directory")
};

// What stands at `path` (absolute). Raises DatabaseInitError Failed when it cannot be examined.
FileInPlace ExamineFileInPlace(const std::filesystem::path& path);

// Raises DatabaseInitError NotReplaceable, naming `path`, unless `found` may be replaced by a new
// database: nothing, or a regular file that no connection holds open.
void CheckReplaceable(const std::filesystem::path& path, const FileInPlace& found);

}  // namespace morvane::provision
