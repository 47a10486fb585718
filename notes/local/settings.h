// The runtime's settings file ("notes.ini" unless the command line names
// another with "=PATH").
//
// Format: one "Name=value" per line. Names compare case-insensitively (ASCII);
// blanks around name and value are dropped; blank lines, lines beginning with
// ';' or '#', "[Section]" lines and lines without '=' are skipped; the value
// runs to the end of the line (it may itself contain '='). When a name occurs
// twice, the later line wins. A UTF-8 byte-order mark at the start is skipped.
//
// Settings the runtime reads itself:
//   Directory         the data directory; relative to the settings file's
//                     folder; absent: that folder
//   MailServer        the home mail server (read by the program)
//   ViewReadPassSize  most entries one ReadEntries call returns (default 16384)
//   LockTimeout       milliseconds to wait for another process's lock on a
//                     database before giving up (default 10000)
// Every other setting is kept and readable through GetEnvString.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "notes/notes.h"

namespace notes::local {

class Settings {
 public:
  void Set(std::string_view name, std::string_view value);
  // The value of `name`, or null when it is not set.
  const std::string* Find(std::string_view name) const;
  // A decimal setting: `fallback` when absent or not a plain number, else the
  // number clamped to [minimum, maximum].
  std::uint32_t Number(std::string_view name, std::uint32_t fallback, std::uint32_t minimum,
                       std::uint32_t maximum) const;

 private:
  std::map<std::string, std::string> values_;  // by lower-case name
};

// Parses the text of a settings file. Never fails: lines it cannot use are
// skipped. The entry point for fuzzing the format.
Settings ParseSettingsText(std::string_view text);

// Reads and parses the file. kErrSettingsFileMissing when there is no such
// file, kErrSettingsFileUnreadable when it cannot be read (a folder, no
// permission, larger than kMaxSettingsFileSize).
constexpr std::uintmax_t kMaxSettingsFileSize = 1024 * 1024;
Status ReadSettingsFile(const std::filesystem::path& path, Settings* settings);

// The data directory named by the settings, made absolute and resolved;
// kErrDataDirectoryMissing when it is not an existing folder.
Status ResolveDataDirectory(const Settings& settings, const std::filesystem::path& settings_file,
                            std::filesystem::path* data_directory);

}  // namespace notes::local
