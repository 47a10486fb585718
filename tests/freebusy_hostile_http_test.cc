// Hostile and broken servers against both download clients: servers that
// trickle, stall or answer with something that is not HTTP, bodies that are
// compressed or binary garbage, and URLs and redirects that try to smuggle a
// header into the request. Every case must end within its limits with a
// failure whose lines say what happened, and nothing of the URL may ever
// become a header of its own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "freebusy/busytime_fill.h"
#include "freebusy/http_client.h"
#include "freebusy/prefetch_client.h"
#include "tests/support/http_test_server.h"
#include "tests/support/loopback_fixture.h"
#include "tests/support/short_fetch_limits.h"

namespace {

using Clock = std::chrono::steady_clock;

using test_support::ShortFetchLimits;

// What a case may take beyond its limit: process scheduling under the
// sanitizers, and libcurl checking its timers about once a second.
constexpr auto kSlack = std::chrono::milliseconds(1'500);

HttpReply Body(std::string body) {
  HttpReply reply;
  reply.body = std::move(body);
  return reply;
}

HttpReply Raw(std::string bytes) {
  HttpReply reply;
  reply.raw = std::move(bytes);
  return reply;
}

HttpReply Redirect(std::string location) {
  HttpReply reply;
  reply.status = 302;
  reply.headers.emplace_back("Location", std::move(location));
  return reply;
}

int LineCount(const std::string& text) {
  int lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

// Whole lines of printable ASCII only: nothing from the network can move the
// cursor, clear the screen or forge a line of its own.
bool IsPrintableLines(const std::string& text) {
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c != '\n' && (byte < 0x20 || byte >= 0x7f)) return false;
  }
  return text.empty() || text.back() == '\n';
}

// libcurl's reasons carry byte counts and times that differ between runs.
std::string WithoutNumbers(const std::string& text) {
  return std::regex_replace(text, std::regex("[0-9]+"), "#");
}

// --- A gzip stream that expands far beyond what it weighs ----------------------

// Writes bits the way deflate packs them: least significant bit first.
class BitWriter {
 public:
  void Bits(std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) Push((value >> i) & 1u);
  }
  // Huffman codes go most significant bit first.
  void Code(std::uint32_t code, int length) {
    for (int i = length - 1; i >= 0; --i) Push((code >> i) & 1u);
  }
  std::string Take() { return std::move(bytes_); }

 private:
  void Push(std::uint32_t bit) {
    if (used_ == 0) bytes_ += '\0';
    bytes_.back() = static_cast<char>(static_cast<unsigned char>(bytes_.back()) | (bit << used_));
    used_ = (used_ + 1) % 8;
  }
  std::string bytes_;
  int used_ = 0;
};

std::uint32_t Crc32(char byte, std::size_t count) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t n = 0; n < count; ++n) {
    crc ^= static_cast<unsigned char>(byte);
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void AppendLittleEndian(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// One 'A' and then `copies` times "the 258 bytes before again", in one block
// of fixed Huffman codes: 13 bits for every 258 bytes of output.
std::string DeflateOfRepeats(std::size_t copies) {
  BitWriter writer;
  writer.Bits(1, 1);           // the last block
  writer.Bits(1, 2);           // fixed codes
  writer.Code(0x30 + 'A', 8);  // the literal 'A'
  for (std::size_t i = 0; i < copies; ++i) {
    writer.Code(0xC0 + (285 - 280), 8);  // length 258
    writer.Code(0, 5);                   // distance 1
  }
  writer.Code(0, 7);  // end of block
  return writer.Take();
}

std::string GzipBomb(std::size_t copies, std::size_t* expanded) {
  *expanded = 1 + 258 * copies;
  std::string gzip = {'\x1f', '\x8b', '\x08', '\0', '\0', '\0', '\0', '\0', '\0', '\xff'};
  gzip += DeflateOfRepeats(copies);
  AppendLittleEndian(gzip, Crc32('A', *expanded));
  AppendLittleEndian(gzip, static_cast<std::uint32_t>(*expanded));
  return gzip;
}

using HostileHttpTest = test_support::LoopbackTest;

// --- Servers that are slow, silent or speak no HTTP ---------------------------

struct StallCase {
  const char* name;
  HttpReply reply;
  std::string first_line;  // the start of the messages
  const char* reason;      // words the reason must hold
};

// libcurl counts only body bytes as progress, so a server that trickles its
// status line is idle as far as the idle limit goes. Headers or a status line
// without end are cut by the header cap, whether they reach libcurl's own
// limit on one line or ours on all of them.
TEST_F(HostileHttpTest, StallingServersAreCutAtTheirLimitsByEitherClient) {
  HttpReply silent;
  silent.never_answer = true;
  // Alive all along, yet slower than the whole limit: a byte every 40 ms, so
  // that even a loaded machine never lets a whole idle second pass.
  HttpReply never_idle = Body(std::string(150, 't'));
  never_idle.trickle = Milliseconds(40);
  HttpReply slower_than_idle = Body(std::string(10, 's'));
  slower_than_idle.trickle = Milliseconds(1'700);
  HttpReply head_trickled = Body("FREEBUSY:x");
  head_trickled.trickle = Milliseconds(100);
  head_trickled.trickle_head = true;
  const std::string endless_line(300 * 1024, 'x');
  const std::string no_response =
      "Error 28 has occurred.\nERR -- No response from " + HostInMessages() + ": ";
  const std::string failed = "ERR -- The download from " + HostInMessages() + " failed: ";
  const std::string header_cap =
      "ERR -- The server at " + HostInMessages() +
      " sent more than 100 header lines or 64 KiB of headers";
  const std::vector<StallCase> cases = {
      {"never answers", silent, no_response, "slow"},
      {"25 bytes a second", never_idle, failed, "timed out"},
      {"one byte every 1.7 s, slower than the idle limit", slower_than_idle, failed, "slow"},
      {"the status line itself trickles", head_trickled, no_response, "slow"},
      {"closes without a word", Raw(""),
       "Error 52 has occurred.\nERR -- No response from " + HostInMessages() + ": ", "Empty reply"},
      {"answers with something that is not HTTP", Raw("\x89PNG\r\n\x1a\n garbage\r\n\r\n"),
       "Error 1 has occurred.\nERR -- No response from " + HostInMessages() + ": ", "HTTP/0.9"},
      {"a header line that never ends", Raw("HTTP/1.1 200 OK\r\nX-Long: " + endless_line),
       header_cap, ""},
      {"a status line that never ends", Raw("HTTP/1.1 200 " + endless_line), header_cap, ""},
  };

  HttpClient one_at_a_time(ShortFetchLimits());
  std::vector<std::string> urls;
  std::vector<Download> expected;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const StallCase& test = cases[i];
    SCOPED_TRACE(test.name);
    const std::string path = "/stall" + std::to_string(i);
    server_.Reply(path, test.reply);
    urls.push_back(server_.Url(path));
    const Clock::time_point start = Clock::now();
    Download download = one_at_a_time.Get(urls.back().c_str());
    const auto took = Clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(ShortFetchLimits().total_timeout_ms) + kSlack);
    EXPECT_EQ(download.result, -1);
    EXPECT_EQ(download.body, "");
    EXPECT_EQ(download.messages.rfind(test.first_line, 0), 0u) << download.messages;
    EXPECT_NE(download.messages.find(test.reason), std::string::npos) << download.messages;
    EXPECT_EQ(LineCount(download.messages), LineCount(test.first_line) + 1) << download.messages;
    expected.push_back(std::move(download));
  }

  // Fetched ahead, the stalls run side by side: the run waits about as long
  // as the longest limit, not the sum, and hears the same.
  PrefetchClient ahead({static_cast<int>(urls.size())}, ShortFetchLimits());
  const Clock::time_point start = Clock::now();
  ahead.Expect(urls);
  for (std::size_t i = 0; i < urls.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    Download got = ahead.Get(urls[i].c_str());
    EXPECT_EQ(got.result, -1);
    EXPECT_EQ(WithoutNumbers(got.messages), WithoutNumbers(expected[i].messages));
  }
  EXPECT_LT(Clock::now() - start,
            std::chrono::milliseconds(ShortFetchLimits().total_timeout_ms) + kSlack);
}

// --- Compressed bodies ----------------------------------------------------------

TEST_F(HostileHttpTest, CompressedBodiesAreNeverExpandedPastTheCap) {
  std::size_t expanded = 0;
  const std::string bomb = GzipBomb(300, &expanded);
  ASSERT_LT(bomb.size(), ShortFetchLimits().max_body_bytes);
  ASSERT_GT(expanded, 50 * ShortFetchLimits().max_body_bytes);

  HttpReply content_encoded = Body(bomb);
  content_encoded.headers.emplace_back("Content-Encoding", "gzip");
  HttpReply transfer_encoded = Body(bomb);
  transfer_encoded.headers.emplace_back("Transfer-Encoding", "gzip");
  transfer_encoded.chunked = true;
  transfer_encoded.chunk_sizes = {100, 100};
  HttpReply until_close = content_encoded;
  until_close.content_length = false;
  const struct {
    const char* name;
    HttpReply reply;
    std::string message;
  } cases[] = {
      // Never asked for, so never decoded: the bytes themselves are no text.
      {"Content-Encoding", content_encoded,
       "ERR -- The download from " + HostInMessages() +
           " is compressed (Content-Encoding: gzip), so it is not a free/busy text\n"},
      {"Content-Encoding, until close", until_close,
       "ERR -- The download from " + HostInMessages() +
           " is compressed (Content-Encoding: gzip), so it is not a free/busy text\n"},
      // libcurl decodes a transfer coding on its own; the cap counts what
      // comes out, so the expansion stops there.
      {"Transfer-Encoding", transfer_encoded,
       "ERR -- The download from " + HostInMessages() + " is larger than 1000 bytes\n"},
  };
  HttpClient client(ShortFetchLimits());
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    server_.Reply("/fb", test.reply);
    Download download = client.Get(server_.Url("/fb").c_str());
    EXPECT_EQ(download.result, -1);
    EXPECT_EQ(download.body, "");
    EXPECT_EQ(download.messages, test.message);
  }

  // Any coding but identity is refused, whatever the bytes look like: a
  // brotli body need not hold the zero byte that gives gzip away.
  const std::string text = "FREEBUSY:20250101T000000Z/PT1H\r\n";
  for (const char* coding : {"br", "utf-8", "Identity", ""}) {
    SCOPED_TRACE(coding);
    HttpReply coded = Body(text);
    coded.headers.emplace_back("Content-Encoding", coding);
    server_.Reply("/coded", coded);
    Download download = client.Get(server_.Url("/coded").c_str());
    const bool identity = coding == std::string("Identity") || *coding == '\0';
    EXPECT_EQ(download.result, identity ? 1 : -1);
    EXPECT_EQ(download.body, identity ? text : "");
    EXPECT_EQ(download.messages,
              identity ? ""
                       : "ERR -- The download from " + HostInMessages() +
                             " is compressed (Content-Encoding: " + coding +
                             "), so it is not a free/busy text\n");
  }
}

// --- Bytes a server chose, in messages -------------------------------------------

// A terminal obeys 0x9B as it obeys ESC [: every byte from the network that a
// message quotes shows as \xNN unless it is printable ASCII.
TEST_F(HostileHttpTest, NetworkBytesInMessagesShowAsEscapes) {
  HttpReply coded = Body("text");
  coded.headers.emplace_back("Content-Encoding", "x\x9B" "2J\xFF");
  server_.Reply("/coded", coded);
  server_.Reply("/moved", Redirect("http://h\x9B" "2J.example/fb"));
  HttpClient client(ShortFetchLimits());
  EXPECT_EQ(client.Get(server_.Url("/coded").c_str()).messages,
            "ERR -- The download from " + HostInMessages() +
                " is compressed (Content-Encoding: x\\x9B2J\\xFF), so it is not a free/busy text\n");

  // Should the host name get past libcurl, the loopback server answers for it
  // as a proxy: nothing leaves this machine.
  setenv("http_proxy", server_.Url("").c_str(), 1);
  const Download moved = client.Get(server_.Url("/moved").c_str());
  unsetenv("http_proxy");
  EXPECT_EQ(moved.result, -1);
  EXPECT_TRUE(IsPrintableLines(moved.messages)) << moved.messages;
  EXPECT_NE(moved.messages.find("\"h\\x9B2J.example\""), std::string::npos) << moved.messages;
}

// --- Nothing of a URL becomes a header ------------------------------------------

TEST_F(HostileHttpTest, NoHeaderCanBeInjectedThroughAUrlOrARedirect) {
  server_.Reply("/fb", Body("text"));
  const std::string port = std::to_string(server_.port());
  const std::string authority = "127.0.0.1:" + port;
  const std::string refused_redirect =
      "ERR -- The server at " + HostInMessages() + " redirected to a refused URL: ";
  const std::string control = "it contains a space or a control character\n";
  server_.Reply("/cr", Redirect("/fb\rX-Injected: 1"));
  server_.Reply("/encoded", Redirect("/fb%0D%0AX-Injected:%201"));
  server_.Reply("/encoded-query", Redirect("/fb?a=%0D%0AX-Injected:%201"));
  server_.Reply("/space", Redirect("/fb X-Injected: 1"));
  server_.Reply("/tab", Redirect("http://" + authority + "/fb\tX-Injected: 1"));
  server_.Reply("/del", Redirect("/fb\x7fX-Injected: 1"));
  server_.Reply("/host", Redirect("http://127.0.0.1%0D%0AX-Injected:%201:" + port + "/fb"));
  const struct {
    std::string url;
    std::string messages;  // "*": whatever libcurl makes of it, as long as it is one line
  } cases[] = {
      {"http://" + authority + "/fb%0D%0AX-Injected:%201",
       "ERR -- The server at " + HostInMessages() + " answered with HTTP status 404\n"},
      {"http://" + authority + "/fb?q=%0d%0aX-Injected:%201", ""},
      {"http://a%0D%0AX-Injected:%201:pw@" + authority + "/fb", ""},
      {"http://" + authority + "/fb%00",
       "ERR -- The server at " + HostInMessages() + " answered with HTTP status 404\n"},
      {"http://127.0.0.1%0D%0AX-Injected:%201:" + port + "/fb", "*"},
      {"http://127.0.0.1%0D%0AX-Injected%3A1/fb", "*"},
      // libcurl ends a header value at a lone CR, so this one leads to /fb.
      {"http://" + authority + "/cr", ""},
      {"http://" + authority + "/encoded",
       "ERR -- The server at " + HostInMessages() + " answered with HTTP status 404\n"},
      {"http://" + authority + "/encoded-query", ""},
      {"http://" + authority + "/space", "*"},
      {"http://" + authority + "/tab", refused_redirect + control},
      {"http://" + authority + "/del", refused_redirect + control},
      {"http://" + authority + "/host", "*"},
  };

  HttpClient client(ShortFetchLimits());
  for (const auto& test : cases) {
    SCOPED_TRACE(test.url);
    Download download = client.Get(test.url.c_str());
    if (test.messages != "*") {
      EXPECT_EQ(download.messages, test.messages);
      EXPECT_EQ(download.result, test.messages.empty() ? 1 : -1);
      continue;
    }
    EXPECT_EQ(download.result, -1);
    EXPECT_EQ(download.messages.rfind("ERR -- ", 0), 0u) << download.messages;
    EXPECT_EQ(LineCount(download.messages), 1) << download.messages;
    EXPECT_TRUE(IsPrintableLines(download.messages)) << download.messages;
  }

  const std::vector<HttpRequestRecord> requests = server_.Requests();
  EXPECT_GE(requests.size(), 10u);
  for (const HttpRequestRecord& request : requests) {
    SCOPED_TRACE(request.request_line);
    EXPECT_TRUE(std::regex_match(request.request_line, std::regex("GET /[!-~]* HTTP/1\\.1")));
    for (const auto& [name, value] : request.headers)
      EXPECT_TRUE(name == "Host" || name == "User-Agent" || name == "Accept" ||
                  name == "Authorization")
          << name << ": " << value;
    EXPECT_EQ(request.Header("Host"), authority);
  }
}

// --- Binary garbage -----------------------------------------------------------------

// Bodies of random bytes without a zero byte pass the download and reach the
// reader, some of them dressed up as free/busy lines. Whatever the reader
// makes of them, the console gets nothing but whole, printable lines that
// start with ERR or WARN.
TEST_F(HostileHttpTest, BinaryGarbageNeverReachesTheConsoleRaw) {
  std::mt19937 random(20250101);
  std::uniform_int_distribution<int> byte(1, 255);
  std::uniform_int_distribution<int> length(0, 900);
  HttpClient client(ShortFetchLimits());
  int read_as_free_busy = 0;
  for (int round = 0; round < 60; ++round) {
    std::string body;
    if (round % 3 != 0) body = "BEGIN:VFREEBUSY\r\n";
    const int size = length(random);
    for (int i = 0; i < size; ++i) {
      body += static_cast<char>(byte(random));
      if (round % 3 == 2 && i % 97 == 0) body += "\nFREEBUSY:2025";
    }
    if (round % 3 == 2) body += "\r\nEND:VFREEBUSY\r\n";
    server_.Reply("/fb", Body(body));
    std::vector<BusyPeriodText> periods;
    testing::internal::CaptureStdout();
    const int result = ReadUserBusyTime(client, server_.Url("/fb").c_str(), periods, {});
    const std::string printed = testing::internal::GetCapturedStdout();
    SCOPED_TRACE("round " + std::to_string(round) + ": " + printed);
    EXPECT_TRUE(IsPrintableLines(printed));
    EXPECT_TRUE(std::regex_match(printed, std::regex("((ERR|WARN) -- [^\n]*\n)*")));
    EXPECT_TRUE(result == 1 || result == -1);
    EXPECT_TRUE(periods.empty());
    read_as_free_busy += result == 1;
  }
  EXPECT_GT(read_as_free_busy, 0);  // some passed as free/busy data with nothing busy in it
}

}  // namespace
