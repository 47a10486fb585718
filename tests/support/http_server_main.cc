// loopback-http-server: serves the files of one directory on 127.0.0.1, for
// the demo and the benchmarks. Runs until SIGTERM or SIGINT.
//
//   loopback-http-server --root DIR [--port N] [--latency-ms N] [--port-file PATH]
//                        [--hang PATH]
//
// The port (0: any free one) is printed on standard output and, with
// --port-file, written to that file once the server listens. A missing file
// is a 404; --latency-ms delays every response; a request for the path given
// with --hang (e.g. /hang) is read and never answered, as a hung server does.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/http_test_server.h"

namespace {

struct Options {
  std::string root;
  int port = 0;
  long latency_ms = 0;
  std::string port_file;
  std::string hang_path;
};

int Usage() {
  std::fputs(
      "usage: loopback-http-server --root DIR [--port N] [--latency-ms N] [--port-file PATH]"
      " [--hang PATH]\n",
      stderr);
  return 2;
}

bool ParseNumber(const char* text, long& value) {
  char* end = nullptr;
  value = std::strtol(text, &end, 10);
  return end != text && *end == '\0' && value >= 0;
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string name = argv[i];
    const char* value = argv[i + 1];
    long number = 0;
    if (name == "--root") {
      options.root = value;
    } else if (name == "--port-file") {
      options.port_file = value;
    } else if (name == "--hang") {
      options.hang_path = value;
    } else if (name == "--port" && ParseNumber(value, number) && number <= 65535) {
      options.port = static_cast<int>(number);
    } else if (name == "--latency-ms" && ParseNumber(value, number)) {
      options.latency_ms = number;
    } else {
      return false;
    }
  }
  return argc % 2 == 1 && !options.root.empty();
}

// The path part of a request target, refused when it could leave the root.
bool SafeRelativePath(const std::string& target, std::string& relative) {
  std::string path = target.substr(0, target.find('?'));
  if (path.empty() || path.front() != '/' || path.back() == '/') return false;
  std::stringstream segments(path.substr(1));
  std::string segment;
  while (std::getline(segments, segment, '/'))
    if (segment.empty() || segment == "." || segment == "..") return false;
  relative = path.substr(1);
  return true;
}

bool ReadRegularFile(const std::filesystem::path& path, std::string& contents) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return false;
  std::ifstream file(path, std::ios::binary);
  contents.resize(size);
  return file && file.read(contents.data(), static_cast<std::streamsize>(size));
}

HttpReply ServeFile(const Options& options, const HttpRequestRecord& request) {
  HttpReply reply;
  reply.delay = Milliseconds(options.latency_ms);
  if (!options.hang_path.empty() &&
      request.target.substr(0, request.target.find('?')) == options.hang_path) {
    reply.never_answer = true;
    return reply;
  }
  std::string relative;
  if (!SafeRelativePath(request.target, relative) ||
      !ReadRegularFile(std::filesystem::path(options.root) / relative, reply.body)) {
    reply.status = 404;
    reply.body = "not found\n";
    return reply;
  }
  reply.headers.emplace_back("Content-Type", "text/calendar");
  return reply;
}

bool WritePortFile(const std::string& path, int port) {
  std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << port << "\n";
    if (!out.flush()) return false;
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);  // readers never see half a number
  return !error;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) return Usage();
  if (!std::filesystem::is_directory(options.root)) {
    std::fprintf(stderr, "loopback-http-server: %s is not a directory\n", options.root.c_str());
    return 1;
  }

  // Blocked before any thread starts, so only sigwait below receives them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  HttpTestServer server(options.port, [&options](const HttpRequestRecord& request) {
    return ServeFile(options, request);
  });
  if (!server.ok()) {
    std::fprintf(stderr, "loopback-http-server: cannot listen on 127.0.0.1:%d\n", options.port);
    return 1;
  }
  if (!options.port_file.empty() && !WritePortFile(options.port_file, server.port())) {
    std::fprintf(stderr, "loopback-http-server: cannot write %s\n", options.port_file.c_str());
    return 1;
  }
  std::printf("%d\n", server.port());
  std::fflush(stdout);

  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  server.Stop();
  return 0;
}
