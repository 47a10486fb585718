// What nsfutil accepts as a calendar profile: the checks on an address and a
// URL, and the reading of a CSV file of profiles. Pure functions, no runtime.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace nsfutil {

struct ProfileInput {
  std::string user_name;        // "UserEmailAddress"
  std::string busytime_url;     // "busytimeurl"
  std::size_t line_number = 0;  // the CSV line it came from; 0 on the command line
};

// Why `value` cannot be stored as the profile item `what` ("address" or
// "URL"), or empty when it can: the harvest reads both into 260-byte buffers,
// and a value that is empty, too long for them or holds control characters
// would be cut or misread there.
std::string ProfileValueProblem(std::string_view value, std::string_view what);

// Reads "address,url" lines. Blank lines, lines starting with '#' and a first
// line "address,url" are skipped; a field may be quoted ("..." with "" for a
// quote); the URL is everything after the first comma unless quoted. Every
// value is checked, and the addresses must differ (letter case ignored).
// Throws ToolError "<file name>:<line>: <problem>" for the first bad line.
std::vector<ProfileInput> ParseProfileCsv(std::string_view text, std::string_view file_name);

// The first problem of the profile's address or URL, or empty.
std::string ProfileProblem(const ProfileInput& profile);

// ASCII letter case ignored, as the view "Main" compares its keys.
bool SameAddress(std::string_view a, std::string_view b);
// The address with ASCII letters in lower case, for sets of addresses.
std::string AddressKey(std::string_view address);

}  // namespace nsfutil
