// Runs the built `morvane` executable: what `morvane call` prints and how it exits.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "testing/temp_folder.h"

extern char** environ;

namespace morvane::cli {
namespace {

struct RunResult {
  int exitCode = -1;  // -1: the program did not exit normally (a crash)
  std::string out;
  std::string err;
};

// Runs MORVANE_BUILD_DIR/morvane with `args`, `input` on its standard input.
RunResult RunMorvane(const std::vector<std::string>& args, const std::string& input = "") {
  const testing::TempFolder dir("morvane-call-test");
  const auto inPath = dir.Write("in", input), outPath = dir / "out", errPath = dir / "err";

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, inPath.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

  std::string program = MORVANE_BUILD_DIR "/morvane";
  std::vector<char*> argv{program.data()};
  std::vector<std::string> copies(args);
  for (auto& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);

  RunResult result;
  pid_t pid = 0;
  int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    result.out = testing::ReadFileText(outPath);
    result.err = testing::ReadFileText(errPath);
  } else {
    ADD_FAILURE() << "cannot start " << program;
  }
  return result;
}

std::string Show(const std::vector<std::string>& args) {
  std::string s = "morvane";
  for (const auto& a : args) s += " '" + (a.size() > 40 ? a.substr(0, 40) + "..." : a) + "'";
  return s;
}

TEST(CallCommandTest, WorkingCallPrintsTheResultAsOneLineOfJson) {
  struct Case {
    std::vector<std::string> args;
    std::string input;
    std::string out;
  };
  const Case cases[] = {
      {{"call", "ObjLib.TextMeter", "Measure", "[\"h\xC3\xA9llo\"]"}, "", "5\n"},
      {{"call", "objlib.textmeter", "measure", R"({"Text":"ab"})"}, "", "2\n"},
      {{"call", "ObjLib.TextMeter", "Measure", "-"}, "[\"\xE6\x97\xA5\xE6\x9C\xAC\"]\n", "2\n"},
      {{"call", "ObjLib.KeyedRecord", "Count"}, "", "0\n"},
      {{"call", "ObjLib.KeyedRecord", "Value", R"(["absent"])"}, "", "{\"@vt\":\"EMPTY\"}\n"},
      {{"call", "ObjLib.RecordList", "UBound", "[]"}, "", "0\n"},
  };
  for (const Case& c : cases) {
    RunResult r = RunMorvane(c.args, c.input);
    EXPECT_EQ(r.exitCode, 0) << Show(c.args) << "\nstderr: " << r.err;
    EXPECT_EQ(r.out, c.out) << Show(c.args);
    EXPECT_EQ(r.err, "") << Show(c.args);
  }
}

TEST(CallCommandTest, UsageErrorsExitTwoWithOneLine) {
  struct Case {
    std::vector<std::string> args;
    std::string input;
  };
  std::string deep(200000, '[');
  const Case cases[] = {
      {{"call", "No.Such.Class", "Measure", "[]"}, ""},
      {{"call", "ObjLib.TextMeter", "NoSuchMember"}, ""},
      {{"call", "ObjLib.TextMeter", "Measure", "[\"abc\""}, ""},
      {{"call", "ObjLib.TextMeter", "Measure", "[\"a\", \"b\"]"}, ""},
      {{"call", "ObjLib.TextMeter", "Measure", "[]"}, ""},
      {{"call", "ObjLib.TextMeter", "Measure", R"([{"not":"text"}])"}, ""},
      {{"call", "ObjLib.TextMeter", "Measure", R"({"Other":"x"})"}, ""},
      {{"call", "ObjLib.TextMeter", "Measure", "\"abc\""}, ""},
      {{"call", "ObjLib.TextMeter", "Measure", "  "}, ""},
      {{"call", "ObjLib.TextMeter", "Measure", "[\"\xFF\"]"}, ""},
      {{"call", "ObjLib.TextMeter", "Measure", "-"}, ""},
      {{"call", "ObjLib.TextMeter", "Measure", "-"}, deep},
      {{"call", "ObjLib.RecordList", "Item", R"(["first"])"}, ""},
      {{"call", "No.Such\nClass", "X"}, ""},
  };
  for (const Case& c : cases) {
    RunResult r = RunMorvane(c.args, c.input);
    EXPECT_EQ(r.exitCode, 2) << Show(c.args) << "\nstderr: " << r.err;
    EXPECT_EQ(r.out, "") << Show(c.args);
    EXPECT_TRUE(r.err.starts_with("morvane call: ")) << Show(c.args) << "\nstderr: " << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << Show(c.args) << ": not one line: " << r.err;
  }
}

TEST(CallCommandTest, MissingOperandsAreUsageErrors) {
  for (const auto& args : {std::vector<std::string>{"call"}, std::vector<std::string>{"call", "ObjLib.TextMeter"},
                           std::vector<std::string>{"call", "A", "B", "[]", "extra"}, std::vector<std::string>{}}) {
    RunResult r = RunMorvane(args);
    EXPECT_EQ(r.exitCode, 2) << Show(args) << "\nstderr: " << r.err;
  }
}

TEST(CallCommandTest, RaisedErrorExitsOneWithTheErrorObjectOnStandardError) {
  RunResult r = RunMorvane({"call", "ObjLib.RecordList", "Item", "[1]"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            R"({"number":9,"hresult":"0x800A0009","source":"Morvane","description":"Subscript out of range",)"
            R"("helpFile":""})"
            "\n");
}

}  // namespace
}  // namespace morvane::cli
