// Running the built programs (busytime-harvest, nsfutil) as child processes
// in tests: started in the background or run to the end, with standard output
// and error going to files, so that a child that writes a lot never blocks on
// a full pipe.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace test_support {

// How a child ended, and what it wrote.
struct ChildResult {
  bool exited = false;  // it ended through exit (false: by a signal, or it never ran)
  int exit_code = -1;   // the exit status when it exited (-1 from main is 255)
  int signal = 0;       // the signal that ended it
  std::string out;
  std::string err;
};

// A child started in the background; WaitChild reaps it.
struct ChildProcess {
  pid_t pid = -1;  // -1 when it could not be started
  std::filesystem::path out_file;
  std::filesystem::path err_file;
};

// Starts `program` with `args`, standard output and error going to the two
// files (created or truncated), standard input from /dev/null.
ChildProcess StartChild(const std::string& program, const std::vector<std::string>& args,
                        const std::filesystem::path& out_file,
                        const std::filesystem::path& err_file);

// Waits for the child to end and reads its output.
ChildResult WaitChild(const ChildProcess& child);

// Starts `program` and waits for it; its output goes to DIR/NAME.out and
// DIR/NAME.err.
ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                     const std::filesystem::path& dir, const std::string& name);

std::string ReadWholeFile(const std::filesystem::path& file);

}  // namespace test_support
