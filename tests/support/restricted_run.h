// Running a built program where writing fails: in a folder it may not write,
// on a disk that is full, or with a limit on the size of any file it writes.
// Each needs something of the system the test runs on; when that is missing
// the run is not made and `unavailable` says why, for GTEST_SKIP.
//
// Permissions do not stop root, so as root a folder is made read-only by a
// read-only bind mount, and a small disk is a tmpfs; both live in a private
// mount namespace of the child alone (unshare -m), so nothing outside sees
// them and nothing is left mounted when the child ends.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/timed_child.h"

namespace test_support {

struct RestrictedCommand {
  std::string program;
  std::vector<std::string> args;
  std::filesystem::path scratch;  // where the child's output files go
  std::chrono::milliseconds limit = std::chrono::minutes(1);
};

// Runs `command` while `folder` and everything in it cannot be written
// (`folder` may also be a single file).
// Without root: the write permissions are taken away and given back after.
ChildOutcome RunWithReadOnlyFolder(const std::filesystem::path& folder,
                                   const RestrictedCommand& command, std::string* unavailable);

// Copies the data directory `data` onto a tmpfs mounted at `disk` (an empty
// folder) with only `free_kib` left free, runs `command` there (its
// arguments name files under `disk`), and copies what the run left back into
// `data`, so that the tools can look at it afterwards. Needs root.
ChildOutcome RunOnFullDisk(const std::filesystem::path& data, const std::filesystem::path& disk,
                           int free_kib, const RestrictedCommand& command,
                           std::string* unavailable);

// Runs `command` with no file it writes allowed past `max_bytes`: such a
// write fails (EFBIG) instead of ending the program with SIGXFSZ.
ChildOutcome RunWithFileSizeLimit(std::uintmax_t max_bytes, const RestrictedCommand& command,
                                  std::string* unavailable);

}  // namespace test_support
