// The README's first command, scripts/demo.sh, run as a newcomer runs it, so
// it cannot rot. It rebuilds a release build, so it is slow; it runs as its
// own ctest entry with a long time-out, and HARVEST_SKIP_DEMO skips it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

namespace {

struct ScriptResult {
  int status = -1;
  std::string output;  // standard output and standard error
};

ScriptResult RunScript(const std::string& command) {
  ScriptResult result;
  std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  std::array<char, 4096> chunk;
  std::size_t read = 0;
  while ((read = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
    result.output.append(chunk.data(), read);
  }
  const int wait_status = pclose(pipe);
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  return result;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(DemoTest, RunsTwiceAndShowsEveryUser) {
  if (std::getenv("HARVEST_SKIP_DEMO") != nullptr) {
    GTEST_SKIP()
        << "HARVEST_SKIP_DEMO is set: the demo (a release build and a harvest run) is skipped";
  }
  // The second run keeps the data directory of the first and replaces its
  // documents.
  for (int run = 1; run <= 2; ++run) {
    const ScriptResult demo = RunScript("bash '" HARVEST_SOURCE_DIR "/scripts/demo.sh'");
    ASSERT_EQ(demo.status, 0) << "run " << run << ":\n" << demo.output;
    const std::string& out = demo.output;
    for (const char* user : {"alice.busy@demo.example", "bob.free@demo.example",
                             "carol.typed@demo.example", "erin.calendar@demo.example",
                             "dave.gone@demo.example"}) {
      EXPECT_TRUE(Contains(out, std::string("Loading Calendar Profile for ") + user))
          << user << "\n"
          << out;
    }
    EXPECT_TRUE(Contains(out, "HTTP status 404")) << out;
    EXPECT_TRUE(Contains(out, "busytime-harvest exit code: 0")) << out;
    // busytime list: NoteId, $Name, entries of both lists, LastModTime.
    EXPECT_TRUE(Contains(out, "\talice.busy@demo.example\t7\t7\t")) << out;
    EXPECT_EQ(out.find("\talice.busy@demo.example\t"), out.rfind("\talice.busy@demo.example\t"))
        << "one document per user\n"
        << out;
    EXPECT_TRUE(Contains(out, "\tbob.free@demo.example\t0\t0\t")) << out;
    EXPECT_TRUE(Contains(out, "\tcarol.typed@demo.example\t6\t6\t")) << out;
    EXPECT_FALSE(Contains(out, "\tdave.gone@demo.example\t")) << out;
    // Erin's calendar: stand-ups three times a week, planning every other
    // week, month ends; in 61 days more than 20 periods, whatever the date.
    std::smatch erin;
    ASSERT_TRUE(std::regex_search(out, erin, std::regex("\terin\\.calendar@demo\\.example\t([0-9]+)\t")))
        << out;
    EXPECT_GT(std::stoi(erin[1]), 20) << out;
    EXPECT_FALSE(Contains(out, "stand-up")) << "a summary reached the console\n" << out;
    EXPECT_TRUE(Contains(out, "2025-03-14T08:00:00Z  2025-03-14T16:00:00Z")) << out;
    EXPECT_TRUE(Contains(out, "lists agree entry by entry: yes")) << out;
  }
}

}  // namespace
