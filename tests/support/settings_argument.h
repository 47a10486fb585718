// The program's first argument "=PATH", which names the settings file.
#pragma once

#include <filesystem>
#include <string>

namespace test_support {

// Built by appending: g++ 12 at -O2 and above warns (-Wrestrict, a false
// alarm) about "=" + string once it is inlined.
inline std::string SettingsArgument(const std::filesystem::path& settings_file) {
  std::string argument = "=";
  argument += settings_file.string();
  return argument;
}

}  // namespace test_support
