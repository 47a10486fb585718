// The fetch-ahead client against a loopback server: every download gives
// what the one-at-a-time client gives, and only as many are held as allowed.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "freebusy/http_client.h"
#include "freebusy/prefetch_client.h"
#include "tests/support/http_test_server.h"
#include "tests/support/loopback_fixture.h"
#include "tests/support/short_fetch_limits.h"

namespace {

using test_support::ShortFetchLimits;

HttpReply Reply(int status, std::string body = "", Milliseconds delay = Milliseconds(0)) {
  HttpReply reply;
  reply.status = status;
  reply.body = std::move(body);
  reply.delay = delay;
  return reply;
}

HttpReply Redirect(std::string location) {
  HttpReply reply = Reply(302);
  reply.headers.emplace_back("Location", std::move(location));
  return reply;
}

// libcurl writes how long a failed connect took into its reason; that number
// differs from one attempt to the next, whoever makes it.
std::string WithoutElapsed(const std::string& messages) {
  return std::regex_replace(messages, std::regex("after [0-9]+ ms"), "after # ms");
}

class PrefetchClientTest : public test_support::LoopbackTest {
 protected:
  // Serves `reply` at /fb and gives `count` users' URLs of it.
  std::vector<std::string> UsersServed(const HttpReply& reply, int count) {
    server_.Reply("/fb", reply);
    std::vector<std::string> urls;
    for (int i = 0; i < count; ++i) urls.push_back(server_.Url("/fb?u=" + std::to_string(i)));
    return urls;
  }
};

TEST_F(PrefetchClientTest, GivesWhatTheOneAtATimeClientGivesInTheOrderAsked) {
  HttpReply closed = Reply(200, std::string(200, 'c'));
  closed.close_after = 50;
  HttpReply chunked = Reply(200, "BEGIN:VCALENDAR\r\nFREEBUSY:x\r\nEND:VCALENDAR\r\n");
  chunked.chunked = true;
  chunked.chunk_sizes = {3, 1, 7};
  HttpReply endless;
  endless.endless_headers = true;
  // Runs into the idle time-out. The one-at-a-time client's wait for it
  // leaves the downloads ahead undriven for longer than that time-out, as
  // slow database work between two users of a run would.
  HttpReply silent;
  silent.never_answer = true;
  server_.Reply("/good", Reply(200, "FREEBUSY:20250101T000000Z/PT1H"));
  server_.Reply("/chunked", chunked);
  server_.Reply("/slow", Reply(200, "slow but whole", Milliseconds(150)));
  server_.Reply("/gone", Reply(404, "no such calendar"));
  server_.Reply("/broken", Reply(500));
  server_.Reply("/closed", closed);
  server_.Reply("/big", Reply(200, std::string(1'500, 'b')));
  server_.Reply("/zero", Reply(200, std::string("A\0B", 3)));
  server_.Reply("/endless", endless);
  server_.Reply("/silent", silent);
  server_.Reply("/hop", Redirect("/good"));
  server_.Reply("/to-ftp", Redirect("ftp://127.0.0.1/x"));
  for (int i = 0; i < 11; ++i)
    server_.Reply("/r" + std::to_string(i), Redirect("/r" + std::to_string(i + 1)));
  server_.Reply("/r11", Reply(200, "after ten hops"));

  HttpTestServer refusing;  // stopped at once: its port refuses connections
  const std::string refused = refusing.Url("/fb");
  refusing.Stop();

  std::vector<std::string> urls;
  for (const char* path : {"/slow", "/good", "/gone", "/chunked", "/broken", "/closed", "/big",
                           "/zero", "/endless", "/silent", "/hop", "/to-ftp", "/r1", "/r0", "/good"})
    urls.push_back(server_.Url(path));
  urls.push_back(refused);
  urls.push_back("ftp://127.0.0.1/refused-scheme");
  urls.push_back("");

  HttpClient one_at_a_time(ShortFetchLimits());
  PrefetchClient ahead({4}, ShortFetchLimits());
  ahead.Expect(urls);
  for (const std::string& url : urls) {
    SCOPED_TRACE(url);
    Download expected = one_at_a_time.Get(url.c_str());
    Download got = ahead.Get(url.c_str());
    EXPECT_EQ(got.result, expected.result);
    EXPECT_EQ(got.body, expected.body);
    EXPECT_EQ(WithoutElapsed(got.messages), WithoutElapsed(expected.messages));
  }
}

TEST_F(PrefetchClientTest, RunsAtMostItsWindowAndReusesConnections) {
  const std::vector<std::string> urls = UsersServed(Reply(200, "text", Milliseconds(60)), 12);

  PrefetchClient ahead({3}, ShortFetchLimits());
  ahead.Expect(urls);
  for (const std::string& url : urls) EXPECT_EQ(ahead.Get(url.c_str()).body, "text");
  EXPECT_EQ(server_.Requests().size(), urls.size());
  EXPECT_GE(server_.Connections(), 2);  // they did run side by side
  EXPECT_LE(server_.Connections(), 3);
}

// More downloads than one host may take wait for its connections in the
// client, not in libcurl's queue, where their connect time-out would run
// out before they ever started.
TEST_F(PrefetchClientTest, DownloadsBeyondAHostsConnectionsWaitWithoutTimingOut) {
  const std::vector<std::string> urls = UsersServed(Reply(200, "text", Milliseconds(150)), 6);

  AheadSettings settings{6};
  settings.host_connections = 1;
  FetchLimits limits = ShortFetchLimits();
  limits.total_timeout_ms = 500;  // less than the five answers queued behind the first
  PrefetchClient ahead(settings, limits);
  ahead.Expect(urls);
  for (const std::string& url : urls) EXPECT_EQ(ahead.Get(url.c_str()).body, "text") << url;
  EXPECT_EQ(server_.Connections(), 1);
}

// A server that never answers holds one transfer; the others go on with the
// users behind it, as far as the budget of bytes held allows, and a body
// that would pass the budget waits, paused, until texts are taken.
TEST_F(PrefetchClientTest, AHungServerHoldsOneTransferAndTheBudgetBoundsTheRest) {
  HttpReply silent;
  silent.never_answer = true;
  server_.Reply("/silent", silent);
  std::vector<std::string> urls = {server_.Url("/silent")};
  for (std::string& url : UsersServed(Reply(200, std::string(900, 't')), 10))
    urls.push_back(std::move(url));

  AheadSettings settings{2};
  settings.ahead_bytes = 4'500;  // the head and one body, then a pause
  PrefetchClient ahead(settings, ShortFetchLimits());
  ahead.Expect(urls);
  EXPECT_EQ(ahead.Get(urls[0].c_str()).result, -1);
  // While the hung server was awaited, more than the window went out, yet
  // not everything: the budget stopped it.
  const std::size_t sent = server_.Requests().size();
  EXPECT_GT(sent, 2u);
  EXPECT_LT(sent, urls.size());
  EXPECT_LE(ahead.HeldBytes(), settings.ahead_bytes);
  for (std::size_t i = 1; i < urls.size(); ++i) {
    EXPECT_EQ(ahead.Get(urls[i].c_str()).body, std::string(900, 't')) << i;
    EXPECT_LE(ahead.HeldBytes(), settings.ahead_bytes) << i;
  }
  EXPECT_EQ(ahead.HeldBytes(), 0u);
  EXPECT_EQ(server_.Requests().size(), urls.size());
}

// A busy server's short Retry-After is honoured once; a long one, or a
// second refusal, fails as any error status does.
TEST_F(PrefetchClientTest, RetriesOnceAfterAShortRetryAfter) {
  HttpReply busy = Reply(503, "busy");
  busy.headers.emplace_back("Retry-After", "1");
  HttpReply later = Reply(429);
  later.headers.emplace_back("Retry-After", "61");
  server_.Reply("/busy", busy);
  server_.Reply("/later", later);
  server_.Reply("/good", Reply(200, "G"));
  const std::vector<std::string> urls = {server_.Url("/busy"), server_.Url("/later"),
                                         server_.Url("/good")};
  FetchLimits limits = ShortFetchLimits();
  limits.total_timeout_ms = 5'000;  // room for the wait
  PrefetchClient ahead({4}, limits);
  ahead.Expect(urls);
  const auto start = std::chrono::steady_clock::now();
  const Download busy_download = ahead.Get(urls[0].c_str());
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  EXPECT_EQ(busy_download.messages,
            "ERR -- The server at " + HostInMessages() + " answered with HTTP status 503\n");
  EXPECT_NE(ahead.Get(urls[1].c_str()).messages.find("HTTP status 429"), std::string::npos);
  EXPECT_EQ(ahead.Get(urls[2].c_str()).body, "G");
  std::map<std::string, int> asked;
  for (const HttpRequestRecord& request : server_.Requests()) ++asked[request.target];
  EXPECT_EQ(asked["/busy"], 2);
  EXPECT_EQ(asked["/later"], 1);
}

TEST_F(PrefetchClientTest, AnUnexpectedUrlIsFetchedBesideTheWindow) {
  server_.Reply("/other", Reply(200, "other", Milliseconds(100)));
  const std::vector<std::string> urls = UsersServed(Reply(200, "text", Milliseconds(60)), 4);

  PrefetchClient ahead({2}, ShortFetchLimits());
  ahead.Expect(urls);  // u=0 and u=1 are set going
  EXPECT_EQ(ahead.Get(server_.Url("/other").c_str()).body, "other");
  // Nothing announced was dropped for it, nor fetched twice.
  for (const std::string& url : urls) EXPECT_EQ(ahead.Get(url.c_str()).body, "text");
  EXPECT_EQ(server_.Requests().size(), urls.size() + 1);
}

TEST_F(PrefetchClientTest, TheCallersWorkDoesNotCountAgainstTheDownloadsAhead) {
  // The one-at-a-time client starts each download when it is asked for, so
  // the caller's work between downloads never counts against a time-out;
  // a download ahead whose answer came in meanwhile must not time out either.
  FetchLimits limits = ShortFetchLimits();
  limits.total_timeout_ms = 600;
  server_.Reply("/a", Reply(200, "A", Milliseconds(100)));
  server_.Reply("/b", Reply(200, "B"));
  server_.Reply("/c", Reply(200, "C", Milliseconds(150)));
  const std::vector<std::string> urls = {server_.Url("/a"), server_.Url("/b"), server_.Url("/c")};
  PrefetchClient ahead({3}, limits);
  ahead.Expect(urls);
  EXPECT_EQ(ahead.Get(urls[0].c_str()).body, "A");  // /b has ended too, /c is on its way
  std::this_thread::sleep_for(Milliseconds(350));   // the caller's work
  EXPECT_EQ(ahead.Get(urls[1].c_str()).body, "B");
  std::this_thread::sleep_for(Milliseconds(350));
  const Download third_download = ahead.Get(urls[2].c_str());  // 700 ms after the start
  EXPECT_EQ(third_download.result, 1) << third_download.messages;
  EXPECT_EQ(third_download.body, "C");
}

TEST_F(PrefetchClientTest, PrintsOnlyWhatIsAskedForEvenOutOfTheAnnouncedOrder) {
  server_.Reply("/a", Reply(404));
  server_.Reply("/b", Reply(200, "B"));
  server_.Reply("/c", Reply(200, "C"));
  server_.Reply("/x", Reply(200, "X"));
  PrefetchClient ahead({8}, ShortFetchLimits());
  ahead.Expect({server_.Url("/a"), server_.Url("/b"), server_.Url("/c")});

  std::string text;
  testing::internal::CaptureStdout();
  EXPECT_EQ(ahead.FetchUrl(text, server_.Url("/b").c_str()), 1);  // /a passed over, unprinted
  EXPECT_EQ(ahead.FetchUrl(text, server_.Url("/x").c_str()), 1);  // never announced
  EXPECT_EQ(ahead.FetchUrl(text, server_.Url("/c").c_str()), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(text, "BXC");

  // Asked for after all, /a is fetched again and its line printed then.
  testing::internal::CaptureStdout();
  EXPECT_EQ(ahead.FetchUrl(text, server_.Url("/a").c_str()), -1);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("answered with HTTP status 404"),
            std::string::npos);
}

}  // namespace
