// How database names map onto the data directory D.
//
//   "FILE"          a database on this machine      -> D/FILE
//   "::FILE"        the same (empty server)          -> D/FILE
//   "SERVER::FILE"  a database on server SERVER      -> D/servers/<ENC>/FILE
//
// The first "::" separates the server from the file, so MakeNetPath refuses a
// server name that itself contains "::" (it would name another server's
// folder). <ENC> is the server name with every byte outside [A-Za-z0-9._= -]
// written as %XX, and a leading '.' too: "Mail1/Acme" -> "Mail1%2FAcme",
// ".." -> "%2E.". Thus '/', '\', ':' and '%' never reach the file system from
// a server name, the folder can never be "." or "..", and two different
// server names never share a folder. Server names compare byte for byte.
//
// FILE is relative: components separated by '/', none of them empty, "." or
// "..", none longer than 255 bytes, no '\' and no control characters. Any
// other name is refused, so no server or file name can reach outside D. The
// folder "servers" of D is an ordinary folder for local names too.
#include "notes/local/db_path.h"

#include <cstring>

#include "notes/status_codes.h"

namespace notes::local {
namespace {

bool IsKeptServerByte(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_' || c == '=' || c == ' ' || c == '-';
}

// Checks a relative file name and appends its components to *file.
Status AppendFileName(std::string_view name, std::filesystem::path* file) {
  if (name.empty()) return kErrInvalidPath;
  while (true) {
    std::size_t slash = name.find('/');
    std::string_view component = name.substr(0, slash);
    if (component.empty() || component == "." || component == "..") return kErrInvalidPath;
    if (component.size() > kMaxNameComponent) return kErrPathTooLong;
    for (char c : component) {
      auto byte = static_cast<unsigned char>(c);
      if (byte < 0x20 || byte == 0x7F || c == '\\') return kErrInvalidPath;
    }
    *file /= std::string(component);
    if (slash == std::string_view::npos) return 0;
    name.remove_prefix(slash + 1);
  }
}

}  // namespace

Status BuildNetPath(const char* port, const char* server, const char* file, char* path_out) {
  if (path_out == nullptr) return kErrBadArgument;
  path_out[0] = '\0';
  if (port != nullptr || file == nullptr) return kErrBadArgument;

  std::string path;
  if (server == nullptr || server[0] == '\0') {
    path = file;
  } else {
    if (std::strstr(server, "::") != nullptr) return kErrInvalidPath;
    path = std::string(server) + std::string(kServerSeparator) + file;
  }
  if (path.size() >= static_cast<std::size_t>(kMaxPathBuffer)) return kErrPathTooLong;
  std::memcpy(path_out, path.c_str(), path.size() + 1);
  return 0;
}

std::string EncodeServerName(std::string_view server) {
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (std::size_t i = 0; i < server.size(); ++i) {
    auto c = static_cast<unsigned char>(server[i]);
    if (IsKeptServerByte(c) && !(i == 0 && c == '.')) {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 0xF];
    }
  }
  return encoded;
}

Status ResolveDatabasePath(const std::filesystem::path& data_directory, std::string_view path,
                           std::filesystem::path* file) {
  if (path.size() >= static_cast<std::size_t>(kMaxPathBuffer)) return kErrPathTooLong;
  std::filesystem::path result = data_directory;
  std::string_view name = path;
  std::size_t separator = path.find(kServerSeparator);
  if (separator != std::string_view::npos) {
    std::string_view server = path.substr(0, separator);
    name = path.substr(separator + kServerSeparator.size());
    if (!server.empty()) {
      std::string folder = EncodeServerName(server);
      if (folder.size() > kMaxNameComponent) return kErrPathTooLong;
      result /= std::string(kServersFolder);
      result /= folder;
    }
  }
  Status status = AppendFileName(name, &result);
  if (status != 0) return status;

  // By construction the result lies below the data directory; check anyway,
  // since a mistake here would let a name reach any file of the machine.
  std::filesystem::path relative = result.lexically_normal().lexically_relative(data_directory);
  if (relative.empty() || *relative.begin() == "..") return kErrInvalidPath;
  *file = std::move(result);
  return 0;
}

}  // namespace notes::local
