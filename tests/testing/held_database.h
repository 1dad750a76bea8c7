// A SQLite database held open by a connection of a child process, idle between statements, the way
// a running host keeps its pooled connections: the connection switches the file to WAL mode (as the
// provider's do), optionally begins a transaction, then waits until the object ends.
//
//   HeldDatabase held(dir / "a.db");          // returns once the child holds the file
//   ASSERT_TRUE(held.holding());
//
// The child uses SQLite itself and nothing of the project, and ends with _exit.
#pragma once

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace morvane::testing {

class HeldDatabase {
 public:
  // `setup`: the statements the child runs after it opens the file (it then stays idle).
  explicit HeldDatabase(const std::filesystem::path& file, const std::string& setup = "PRAGMA journal_mode=WAL") {
    int ready[2], stop[2];
    if (::pipe(ready) != 0) return;
    if (::pipe(stop) != 0) {
      ::close(ready[0]);
      ::close(ready[1]);
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      ::close(stop[1]);
      sqlite3* db = nullptr;
      const bool ok = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
                      sqlite3_exec(db, setup.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
      const char answer = ok ? '1' : '0';
      (void)!::write(ready[1], &answer, 1);
      char ignored;
      while (::read(stop[0], &ignored, 1) > 0) {
      }
      sqlite3_close(db);
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(stop[0]);
    stop_ = stop[1];
    char answer = '0';
    holding_ = pid_ > 0 && ::read(ready[0], &answer, 1) == 1 && answer == '1';
    ::close(ready[0]);
  }
  ~HeldDatabase() { Release(); }
  HeldDatabase(const HeldDatabase&) = delete;
  HeldDatabase& operator=(const HeldDatabase&) = delete;

  // Whether the child opened the file and ran the setup.
  bool holding() const { return holding_; }

  // Closes the child's connection and waits for the child to end.
  void Release() {
    if (stop_ >= 0) ::close(stop_);
    stop_ = -1;
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
    holding_ = false;
  }

 private:
  pid_t pid_ = -1;
  int stop_ = -1;
  bool holding_ = false;
};

}  // namespace morvane::testing
