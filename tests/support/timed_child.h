// Running the built programs (busytime-harvest, nsfutil) as child processes
// with a time limit, or in the background so that a test can kill them at a
// moment of its choosing. Standard output and error go to files in a scratch
// folder the caller owns, so a child that writes a lot never blocks on a full
// pipe. A child still running at its limit is killed and reported as such:
// a hang fails the test instead of holding it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace test_support {

// How a timed child ended.
struct ChildOutcome {
  bool started = false;
  int exit_code = -1;      // the exit status when the child exited (-1 from main is 255)
  int signal = 0;          // the signal that ended it, 0 when it exited
  bool timed_out = false;  // it was still running at the limit and was killed
  std::chrono::milliseconds elapsed{0};
  std::string out;  // standard output
  std::string err;  // standard error

  bool Exited(int code) const { return started && signal == 0 && !timed_out && exit_code == code; }
};

// A program running in the background. The destructor kills and reaps a
// child that is still running, so no test leaves one behind.
class TimedChild {
 public:
  TimedChild() = default;
  ~TimedChild();
  TimedChild(const TimedChild&) = delete;
  TimedChild& operator=(const TimedChild&) = delete;

  // Starts `program` with `args`; its output goes to `scratch`/`name`.out and
  // .err. False when the program could not be started.
  bool Start(const std::string& program, const std::vector<std::string>& args,
             const std::filesystem::path& scratch, const std::string& name = "child");

  bool Running() const { return pid_ > 0; }

  // Sends `signal` when the child is still running.
  void Signal(int signal);

  // Waits until the child ends, killing it with SIGKILL once `limit` has
  // passed since Start, and reads its output.
  ChildOutcome Wait(std::chrono::milliseconds limit = std::chrono::minutes(2));

 private:
  pid_t pid_ = -1;
  std::chrono::steady_clock::time_point started_at_;
  std::filesystem::path out_file_;
  std::filesystem::path err_file_;
};

// Starts `program` and waits for it (see TimedChild::Wait).
ChildOutcome RunTimedChild(const std::string& program, const std::vector<std::string>& args,
                           const std::filesystem::path& scratch,
                           std::chrono::milliseconds limit = std::chrono::minutes(2));

// How the child ended, then its output, for assertion messages.
std::string Describe(const ChildOutcome& outcome);

}  // namespace test_support
