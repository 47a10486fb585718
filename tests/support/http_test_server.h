// A small HTTP/1.1 server on 127.0.0.1 for tests and local demos. It listens
// on a free port chosen by the system, serves each connection on a thread of
// its own, keeps connections alive, and answers every request with a reply
// the test scripted for its path (or a handler's reply). Faults are plain
// data on the reply: latency, trickling, chunking, a connection closed
// half-way, a server that never answers or never ends its headers, and raw
// bytes that are no HTTP at all.
//
// Every wait polls a stop signal, so Stop() (and the destructor) returns
// quickly even while clients stall. The server records the requests it saw.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

using Milliseconds = std::chrono::milliseconds;

// What the server sends for one request.
struct HttpReply {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;  // sent as given
  std::string body;
  // Transfer-Encoding: chunked, in chunks of these sizes; the rest of the
  // body, if any, goes in one last chunk. Empty sizes with chunked = true
  // send the whole body as one chunk.
  bool chunked = false;
  std::vector<std::size_t> chunk_sizes;
  bool content_length = true;              // without chunked: false ends the body by closing
  Milliseconds delay{0};                   // before the status line
  Milliseconds chunk_pause{0};             // between chunks, so they arrive apart
  Milliseconds trickle{0};                 // when set: the body goes out one byte per interval
  std::optional<std::size_t> close_after;  // close after this many bytes of the encoded body
  bool never_answer = false;               // read the request, then wait without a word
  bool endless_headers = false;            // header lines without end
  bool trickle_head = false;               // with trickle: the status line and headers trickle too
  // When set, these bytes are the whole answer, sent as they are in place of
  // a status line, headers and body; the connection closes after them.
  std::optional<std::string> raw;
};

// One request as received.
struct HttpRequestRecord {
  std::string request_line;  // "GET /p?q=1 HTTP/1.1"
  std::string target;        // "/p?q=1"
  std::vector<std::pair<std::string, std::string>> headers;
  int connection = 0;  // 1 for the first connection accepted, 2 for the next, ...

  // The value of the first header of that name (case-insensitive), or nullopt.
  std::optional<std::string> Header(std::string_view name) const;
};

// A handler for "/fb/N" paths: the body `body_of(N)`, and 404 for any other
// path. Tests that give each user a numbered URL serve them with it.
HttpReply ServeNumberedText(const HttpRequestRecord& request,
                            const std::function<std::string(int)>& body_of);

class HttpTestServer {
 public:
  using Handler = std::function<HttpReply(const HttpRequestRecord&)>;

  // Listens on 127.0.0.1:port (0: any free port). Without a handler it
  // answers with the scripted replies of Reply() and 404 for other paths.
  // Check ok() after construction.
  explicit HttpTestServer(int port = 0, Handler handler = nullptr);
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  bool ok() const { return listen_fd_ >= 0; }
  int port() const { return port_; }
  // "http://127.0.0.1:<port>" followed by `path_and_query`.
  std::string Url(std::string_view path_and_query) const;

  // Answers requests for `path` (the target without its query) with `reply`.
  void Reply(const std::string& path, HttpReply reply);

  // The requests received so far, in order (the first 10,000).
  std::vector<HttpRequestRecord> Requests() const;
  int Connections() const { return connections_accepted_.load(); }

  // Stops listening, wakes every waiting connection and joins all threads.
  void Stop();

 private:
  struct Connection {
    int fd = -1;
    int number = 0;
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void AcceptLoop();
  void Serve(Connection& connection);
  bool ReadHead(int fd, std::string& buffer, std::size_t& head_end) const;
  bool SendReply(int fd, const HttpReply& reply);
  HttpReply ReplyFor(const HttpRequestRecord& request) const;
  void Record(const HttpRequestRecord& request);
  // Waits up to `timeout` for `fd` (or -1: nothing) to become ready for
  // `events`. False when the server stops or the wait failed.
  bool WaitFor(int fd, short events, Milliseconds timeout) const;
  bool Pause(Milliseconds interval) const { return WaitFor(-1, 0, interval); }
  bool SendAll(int fd, std::string_view bytes) const;
  void ReapFinished();

  int listen_fd_ = -1;
  int wake_fds_[2] = {-1, -1};  // a pipe: readable once the server stops
  int port_ = 0;
  Handler handler_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_accepted_{0};
  std::thread accept_thread_;

  mutable std::mutex mutex_;  // guards the members below
  std::map<std::string, HttpReply> replies_;
  std::vector<HttpRequestRecord> requests_;
  std::list<Connection> connections_;
};
