// The loopback HTTP server of the tests: POSIX sockets, a thread per
// connection, every blocking call guarded by poll() on the stop pipe.
#include "tests/support/http_test_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kMaxRequestHead = 64 * 1024;
// A long-running file server must not grow without bound; tests stay far below.
constexpr std::size_t kMaxRecordedRequests = 10'000;

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 204:
      return "No Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 307:
      return "Temporary Redirect";
    case 308:
      return "Permanent Redirect";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    default:
      return "Status";
  }
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// Parses the request line and header lines of one request head.
HttpRequestRecord ParseHead(std::string_view head, int connection) {
  HttpRequestRecord request;
  request.connection = connection;
  bool first = true;
  while (!head.empty()) {
    std::size_t eol = head.find('\n');
    std::string_view line = Trim(head.substr(0, eol));
    head = eol == std::string_view::npos ? std::string_view() : head.substr(eol + 1);
    if (first) {
      request.request_line = line;
      std::size_t sp1 = line.find(' ');
      std::size_t sp2 = line.rfind(' ');
      if (sp1 != std::string_view::npos && sp2 > sp1)
        request.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
      first = false;
    } else if (std::size_t colon = line.find(':'); colon != std::string_view::npos) {
      request.headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
    }
  }
  return request;
}

// The body as it goes on the wire, in the pieces that are sent one by one.
std::vector<std::string> EncodeBody(const HttpReply& reply) {
  if (!reply.chunked) return {reply.body};
  std::vector<std::string> pieces;
  std::string_view rest = reply.body;
  auto add_chunk = [&pieces](std::string_view data) {
    char size_line[32];
    std::snprintf(size_line, sizeof size_line, "%zx\r\n", data.size());
    pieces.push_back(std::string(size_line) + std::string(data) + "\r\n");
  };
  for (std::size_t size : reply.chunk_sizes) {
    if (rest.empty()) break;
    std::size_t take = std::min(size, rest.size());
    if (take == 0) continue;  // a zero-size chunk would end the body
    add_chunk(rest.substr(0, take));
    rest.remove_prefix(take);
  }
  if (!rest.empty()) add_chunk(rest);
  pieces.push_back("0\r\n\r\n");
  return pieces;
}

}  // namespace

std::optional<std::string> HttpRequestRecord::Header(std::string_view name) const {
  for (const auto& [key, value] : headers)
    if (SameName(key, name)) return value;
  return std::nullopt;
}

HttpTestServer::HttpTestServer(int port, Handler handler) : handler_(std::move(handler)) {
  if (pipe2(wake_fds_, O_CLOEXEC) != 0) return;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, 128) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    return;
  }
  listen_fd_ = fd;
  port_ = ntohs(address.sin_port);
  accept_thread_ = std::thread(&HttpTestServer::AcceptLoop, this);
}

HttpTestServer::~HttpTestServer() { Stop(); }

std::string HttpTestServer::Url(std::string_view path_and_query) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path_and_query);
}

void HttpTestServer::Reply(const std::string& path, HttpReply reply) {
  std::lock_guard lock(mutex_);
  replies_[path] = std::move(reply);
}

std::vector<HttpRequestRecord> HttpTestServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void HttpTestServer::Stop() {
  if (stopping_.exchange(true)) return;
  if (wake_fds_[1] >= 0) {
    [[maybe_unused]] ssize_t written = write(wake_fds_[1], "x", 1);
  }
  if (accept_thread_.joinable()) accept_thread_.join();
  std::list<Connection> connections;
  {
    std::lock_guard lock(mutex_);
    connections.swap(connections_);
  }
  for (Connection& connection : connections)
    if (connection.thread.joinable()) connection.thread.join();
  for (int* fd : {&listen_fd_, &wake_fds_[0], &wake_fds_[1]}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

bool HttpTestServer::WaitFor(int fd, short events, Milliseconds timeout) const {
  pollfd fds[2] = {{wake_fds_[0], POLLIN, 0}, {fd, events, 0}};
  int ready;
  do {
    ready =
        poll(fds, fd >= 0 ? 2 : 1, timeout.count() < 0 ? -1 : static_cast<int>(timeout.count()));
  } while (ready < 0 && errno == EINTR);
  if (ready < 0 || fds[0].revents != 0) return false;
  if (fd < 0) return true;  // a pause that ran its full length
  return fds[1].revents != 0;
}

bool HttpTestServer::SendAll(int fd, std::string_view bytes) const {
  while (!bytes.empty()) {
    if (!WaitFor(fd, POLLOUT, Milliseconds(-1))) return false;
    ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

void HttpTestServer::ReapFinished() {
  std::lock_guard lock(mutex_);
  for (auto it = connections_.begin(); it != connections_.end();) {
    if (it->done.load()) {
      it->thread.join();
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

void HttpTestServer::AcceptLoop() {
  while (WaitFor(listen_fd_, POLLIN, Milliseconds(-1))) {
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ReapFinished();
    std::lock_guard lock(mutex_);
    Connection& connection = connections_.emplace_back();
    connection.fd = fd;
    connection.number = ++connections_accepted_;
    connection.thread = std::thread(&HttpTestServer::Serve, this, std::ref(connection));
  }
}

void HttpTestServer::Record(const HttpRequestRecord& request) {
  std::lock_guard lock(mutex_);
  if (requests_.size() < kMaxRecordedRequests) requests_.push_back(request);
}

HttpReply HttpTestServer::ReplyFor(const HttpRequestRecord& request) const {
  if (handler_) return handler_(request);
  std::string path = request.target.substr(0, request.target.find('?'));
  std::lock_guard lock(mutex_);
  if (auto it = replies_.find(path); it != replies_.end()) return it->second;
  HttpReply missing;
  missing.status = 404;
  missing.body = "not found\n";
  return missing;
}

// Reads until `buffer` holds a whole request head; false when the client
// closed, sent too much or something else than HTTP, or the server stops.
bool HttpTestServer::ReadHead(int fd, std::string& buffer, std::size_t& head_end) const {
  while ((head_end = buffer.find("\r\n\r\n")) == std::string::npos) {
    if (buffer.size() > kMaxRequestHead || !WaitFor(fd, POLLIN, Milliseconds(-1))) return false;
    char bytes[4096];
    ssize_t received = recv(fd, bytes, sizeof bytes, MSG_DONTWAIT);
    if (received < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (received <= 0) return false;
    buffer.append(bytes, static_cast<std::size_t>(received));
    // Only a method starts a request; anything else (a TLS handshake, say)
    // gets the connection closed at once rather than a wait for a head.
    if (buffer.front() < 'A' || buffer.front() > 'Z') return false;
  }
  return true;
}

void HttpTestServer::Serve(Connection& connection) {
  std::string buffer;
  std::size_t head_end = 0;
  while (ReadHead(connection.fd, buffer, head_end)) {
    HttpRequestRecord request =
        ParseHead(std::string_view(buffer).substr(0, head_end), connection.number);
    buffer.erase(0, head_end + 4);
    Record(request);
    HttpReply reply = ReplyFor(request);
    bool client_closes = SameName(request.Header("Connection").value_or(""), "close");
    if (!SendReply(connection.fd, reply) || client_closes) break;
  }
  close(connection.fd);
  connection.done = true;
}

// Returns whether the connection can carry another request.
bool HttpTestServer::SendReply(int fd, const HttpReply& reply) {
  if (reply.never_answer) {
    // Hold the connection until the client gives up or the server stops.
    char bytes[512];
    while (WaitFor(fd, POLLIN, Milliseconds(-1)) &&
           recv(fd, bytes, sizeof bytes, MSG_DONTWAIT) > 0) {
    }
    return false;
  }
  if (reply.delay.count() > 0 && !Pause(reply.delay)) return false;
  if (reply.raw) {
    if (reply.trickle.count() > 0) {
      for (char byte : *reply.raw)
        if (!Pause(reply.trickle) || !SendAll(fd, std::string_view(&byte, 1))) return false;
    } else {
      SendAll(fd, *reply.raw);
    }
    return false;
  }

  std::string head =
      "HTTP/1.1 " + std::to_string(reply.status) + " " + ReasonPhrase(reply.status) + "\r\n";
  if (reply.endless_headers) {
    if (!SendAll(fd, head)) return false;
    const std::string filler(200, 'x');
    for (long line = 0;; ++line)
      if (!SendAll(fd, "X-Filler-" + std::to_string(line) + ": " + filler + "\r\n")) return false;
  }
  for (const auto& [name, value] : reply.headers) head += name + ": " + value + "\r\n";
  bool keep_alive = reply.chunked || reply.content_length;
  if (reply.chunked)
    head += "Transfer-Encoding: chunked\r\n";
  else if (reply.content_length)
    head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
  else
    head += "Connection: close\r\n";
  head += "\r\n";

  std::vector<std::string> pieces = EncodeBody(reply);
  if (reply.close_after) {
    std::string wire;
    for (const std::string& piece : pieces) wire += piece;
    pieces = {wire.substr(0, std::min(*reply.close_after, wire.size()))};
    keep_alive = false;
  }

  if (reply.trickle.count() > 0) {
    if (reply.trickle_head) {
      pieces.insert(pieces.begin(), head);
    } else if (!SendAll(fd, head)) {
      return false;
    }
    for (const std::string& piece : pieces)
      for (char byte : piece)
        if (!Pause(reply.trickle) || !SendAll(fd, std::string_view(&byte, 1))) return false;
    return keep_alive;
  }
  // The head goes out with the first piece; later pieces follow after a pause.
  if (!SendAll(fd, head + pieces.front())) return false;
  for (std::size_t i = 1; i < pieces.size(); ++i)
    if ((reply.chunk_pause.count() > 0 && !Pause(reply.chunk_pause)) || !SendAll(fd, pieces[i]))
      return false;
  return keep_alive;
}

HttpReply ServeNumberedText(const HttpRequestRecord& request,
                            const std::function<std::string(int)>& body_of) {
  HttpReply reply;
  const std::string prefix = "/fb/";
  if (request.target.rfind(prefix, 0) != 0) {
    reply.status = 404;
    return reply;
  }
  reply.body = body_of(std::atoi(request.target.c_str() + prefix.size()));
  return reply;
}
