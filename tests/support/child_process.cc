#include "tests/support/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>

extern char** environ;

namespace test_support {

ChildProcess StartChild(const std::string& program, const std::vector<std::string>& args,
                        const std::filesystem::path& out_file,
                        const std::filesystem::path& err_file) {
  std::vector<std::string> words = {program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  ChildProcess child;
  child.out_file = out_file;
  child.err_file = err_file;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    errno = spawned;
    std::perror(program.c_str());
    return child;
  }
  child.pid = pid;
  return child;
}

ChildResult WaitChild(const ChildProcess& child) {
  ChildResult result;
  if (child.pid <= 0) return result;
  int status = 0;
  pid_t done = 0;
  do {
    done = waitpid(child.pid, &status, 0);
  } while (done < 0 && errno == EINTR);
  if (done == child.pid) {
    result.exited = WIFEXITED(status);
    if (result.exited) result.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  }
  result.out = ReadWholeFile(child.out_file);
  result.err = ReadWholeFile(child.err_file);
  return result;
}

ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                     const std::filesystem::path& dir, const std::string& name) {
  return WaitChild(StartChild(program, args, dir / (name + ".out"), dir / (name + ".err")));
}

std::string ReadWholeFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace test_support
