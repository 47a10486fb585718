#include "tests/support/timed_child.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace test_support {
namespace {

std::string ReadOutput(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

TimedChild::~TimedChild() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool TimedChild::Start(const std::string& program, const std::vector<std::string>& args,
                       const std::filesystem::path& scratch, const std::string& name) {
  if (pid_ > 0) return false;
  std::vector<std::string> words = {program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  out_file_ = scratch / (name + ".out");
  err_file_ = scratch / (name + ".err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;
  pid_ = pid;
  started_at_ = std::chrono::steady_clock::now();
  return true;
}

void TimedChild::Signal(int signal) {
  if (pid_ > 0) kill(pid_, signal);
}

ChildOutcome TimedChild::Wait(std::chrono::milliseconds limit) {
  ChildOutcome outcome;
  if (pid_ <= 0) return outcome;
  outcome.started = true;
  const auto deadline = started_at_ + limit;
  int wait_status = 0;
  // Polling keeps the limit without a second thread or a signal handler; the
  // short pause costs nothing next to a process start.
  for (;;) {
    const pid_t done = waitpid(pid_, &wait_status, WNOHANG);
    if (done == pid_) break;
    if (done < 0) {
      pid_ = -1;
      return outcome;
    }
    if (!outcome.timed_out && std::chrono::steady_clock::now() >= deadline) {
      kill(pid_, SIGKILL);
      outcome.timed_out = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  pid_ = -1;
  outcome.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - started_at_);
  if (WIFEXITED(wait_status)) outcome.exit_code = WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) outcome.signal = WTERMSIG(wait_status);
  outcome.out = ReadOutput(out_file_);
  outcome.err = ReadOutput(err_file_);
  return outcome;
}

ChildOutcome RunTimedChild(const std::string& program, const std::vector<std::string>& args,
                           const std::filesystem::path& scratch, std::chrono::milliseconds limit) {
  TimedChild child;
  if (!child.Start(program, args, scratch)) return ChildOutcome();
  return child.Wait(limit);
}

std::string Describe(const ChildOutcome& outcome) {
  std::string text;
  if (!outcome.started) {
    text = "not started";
  } else if (outcome.timed_out) {
    text = "killed at its time limit";
  } else if (outcome.signal != 0) {
    text = "ended by signal " + std::to_string(outcome.signal);
  } else {
    text = "exit " + std::to_string(outcome.exit_code);
  }
  text += " after " + std::to_string(outcome.elapsed.count()) + " ms\n--- stdout\n" + outcome.out +
          "--- stderr\n" + outcome.err;
  return text;
}

}  // namespace test_support
