#include "tests/support/restricted_run.h"

#include <unistd.h>

#include <utility>

namespace test_support {
namespace {

namespace fs = std::filesystem;

// What the scripts below exit with when they could not set the restriction up.
constexpr int kSetupFailed = 97;

// $0 is the folder; the command follows.
constexpr const char* kReadOnlyScript =
    "mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\" || exit 97\n"
    "exec \"$@\"\n";

// $0 the tmpfs mount point, $1 the data directory, $2 the KiB to leave free;
// the command follows. The filler takes all but those KiB.
constexpr const char* kFullDiskScript =
    "disk=$0; data=$1; free=$2; shift 2\n"
    "size=$(( $(du -sk \"$data\" | cut -f1) + free + 1024 ))\n"
    "mount -t tmpfs -o size=${size}k tmpfs \"$disk\" || exit 97\n"
    "cp -a \"$data/.\" \"$disk/\" || exit 98\n"
    "avail=$(df -Pk \"$disk\" | awk 'NR == 2 { print $4 }')\n"
    "if [ \"$avail\" -gt \"$free\" ]; then\n"
    "  dd if=/dev/zero of=\"$disk/.filler\" bs=1024 count=$((avail - free)) 2>/dev/null\n"
    "fi\n"
    "\"$@\"; status=$?\n"
    "rm -f \"$disk/.filler\"\n"
    "find \"$data\" -mindepth 1 -delete && cp -a \"$disk/.\" \"$data/\" || exit 98\n"
    "exit $status\n";

// $0 the limit in 512-byte blocks, as ulimit counts; the command follows.
// An ignored SIGXFSZ stays ignored across exec, so the write fails instead.
constexpr const char* kFileSizeScript =
    "trap '' XFSZ\n"
    "ulimit -f \"$0\" || exit 97\n"
    "exec \"$@\"\n";

std::string Unshare() {
  for (const char* candidate : {"/usr/bin/unshare", "/bin/unshare"})
    if (access(candidate, X_OK) == 0) return candidate;
  return "";
}

// Why no private mount namespace can be made here, or "" when one can. A
// bare chroot or a default container refuses one ("cannot change root
// filesystem propagation"); the tests that need it are skipped there rather
// than failed. Asked once per test program.
const std::string& MountNamespaceProblem(const std::string& unshare) {
  static const std::string problem = [&unshare] {
    const ChildOutcome probe =
        RunTimedChild(unshare, {"--mount", "--propagation", "private", "/bin/true"},
                      fs::temp_directory_path(), std::chrono::seconds(30));
    if (probe.Exited(0)) return std::string();
    std::string why = probe.err.substr(0, probe.err.find('\n'));
    if (why.empty()) why = "exit code " + std::to_string(probe.exit_code);
    return "no private mount namespace can be made here (" + why + ")";
  }();
  return problem;
}

// Runs `script` with `script_args` and then the command, through sh, in a
// private mount namespace when `private_mounts`.
ChildOutcome RunScript(const char* script, std::vector<std::string> script_args,
                       const RestrictedCommand& command, bool private_mounts,
                       std::string* unavailable) {
  std::vector<std::string> args;
  std::string program = "/bin/sh";
  if (private_mounts) {
    program = Unshare();
    if (program.empty()) {
      *unavailable = "unshare(1) is not installed";
      return {};
    }
    if (const std::string& problem = MountNamespaceProblem(program); !problem.empty()) {
      *unavailable = problem;
      return {};
    }
    args = {"--mount", "--propagation", "private", "/bin/sh"};
  }
  args.insert(args.end(), {"-c", script});
  args.insert(args.end(), script_args.begin(), script_args.end());
  args.push_back(command.program);
  args.insert(args.end(), command.args.begin(), command.args.end());
  ChildOutcome outcome = RunTimedChild(program, args, command.scratch, command.limit);
  if (!outcome.started) {
    *unavailable = program + " could not be started";
  } else if (outcome.Exited(kSetupFailed)) {
    *unavailable = "the restriction could not be set up: " + outcome.err;
  }
  return outcome;
}

// Takes the write permissions off `folder` and everything below it, and gives
// them back when it goes.
class WritesTakenAway {
 public:
  explicit WritesTakenAway(const fs::path& folder) {
    Take(folder);
    if (!fs::is_directory(folder)) return;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder))
      if (!entry.is_symlink()) Take(entry.path());
  }
  ~WritesTakenAway() {
    // The folders were changed first; the files inside go back before them.
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      std::error_code ignored;
      fs::permissions(it->first, it->second, ignored);
    }
  }
  WritesTakenAway(const WritesTakenAway&) = delete;
  WritesTakenAway& operator=(const WritesTakenAway&) = delete;

 private:
  void Take(const fs::path& path) {
    const fs::perms perms = fs::status(path).permissions();
    saved_.emplace_back(path, perms);
    fs::permissions(
        path, perms & ~(fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write));
  }
  std::vector<std::pair<fs::path, fs::perms>> saved_;
};

}  // namespace

ChildOutcome RunWithReadOnlyFolder(const fs::path& folder, const RestrictedCommand& command,
                                   std::string* unavailable) {
  if (geteuid() != 0) {
    WritesTakenAway read_only(folder);
    return RunTimedChild(command.program, command.args, command.scratch, command.limit);
  }
  return RunScript(kReadOnlyScript, {folder.string()}, command, true, unavailable);
}

ChildOutcome RunOnFullDisk(const fs::path& data, const fs::path& disk, int free_kib,
                           const RestrictedCommand& command, std::string* unavailable) {
  if (geteuid() != 0) {
    *unavailable = "mounting a small tmpfs needs root";
    return {};
  }
  return RunScript(kFullDiskScript, {disk.string(), data.string(), std::to_string(free_kib)},
                   command, true, unavailable);
}

ChildOutcome RunWithFileSizeLimit(std::uintmax_t max_bytes, const RestrictedCommand& command,
                                  std::string* unavailable) {
  return RunScript(kFileSizeScript, {std::to_string(max_bytes / 512)}, command, false, unavailable);
}

}  // namespace test_support
