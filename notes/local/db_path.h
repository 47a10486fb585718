// Database paths and the files they name. See db_path.cc for the mapping of
// server and file names onto the data directory.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "notes/notes.h"

namespace notes::local {

// Separates the server from the file in a network path: "SERVER::FILE".
constexpr std::string_view kServerSeparator = "::";
// The folder of the data directory holding one folder per server.
constexpr std::string_view kServersFolder = "servers";
// Longest single file-name component, as most file systems allow.
constexpr std::size_t kMaxNameComponent = 255;

// MakeNetPath: `file` unchanged for an empty or null server, otherwise
// "SERVER::FILE". `port` must be null. The result and its terminator must fit
// kMaxPathBuffer bytes; on any failure path_out holds "".
Status BuildNetPath(const char* port, const char* server, const char* file, char* path_out);

// The folder name of a server: bytes [A-Za-z0-9._= -] are kept, every other
// byte and a leading '.' become "%XX" (upper-case hex).
std::string EncodeServerName(std::string_view server);

// Where the database named by `path` lives under `data_directory`:
// kErrInvalidPath when the name is not acceptable (see db_path.cc),
// kErrPathTooLong when it does not fit. The file need not exist.
Status ResolveDatabasePath(const std::filesystem::path& data_directory, std::string_view path,
                           std::filesystem::path* file);

}  // namespace notes::local
