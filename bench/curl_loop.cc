// curl_loop: downloads every URL of a list with plain libcurl and nothing
// else, the yardstick the whole-run benchmark (bench/run_bench.sh) measures
// the harvest against: what the same downloads cost without reading a text or
// touching a database.
//
//   curl_loop URL_FILE [PARALLEL]
//
// PARALLEL 1 (the default): one easy handle, one URL after the other, so a
// connection is reused between URLs of the same host. PARALLEL K: a multi
// handle keeps up to K transfers in flight. Bodies are counted and dropped.
// Prints one line: URLs, failures (transport errors and non-2xx statuses),
// bytes, seconds and URLs per second.
#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::size_t CountBody(char* /*data*/, std::size_t size, std::size_t count, void* context) {
  *static_cast<std::size_t*>(context) += size * count;
  return size * count;
}

void SetUp(CURL* easy, const std::string& url, std::size_t* bytes) {
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  // The harvest's idle limit, so a hung server costs both the same.
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, 30L);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, CountBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, bytes);
}

bool Succeeded(CURL* easy, CURLcode code) {
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  return code == CURLE_OK && status >= 200 && status <= 299;
}

std::size_t FetchSequentially(const std::vector<std::string>& urls, std::size_t* bytes) {
  std::size_t failures = 0;
  CURL* easy = curl_easy_init();
  for (const std::string& url : urls) {
    curl_easy_reset(easy);  // keeps the connection cache
    SetUp(easy, url, bytes);
    if (!Succeeded(easy, curl_easy_perform(easy))) ++failures;
  }
  curl_easy_cleanup(easy);
  return failures;
}

std::size_t FetchInParallel(const std::vector<std::string>& urls, long parallel,
                            std::size_t* bytes) {
  std::size_t failures = 0;
  CURLM* multi = curl_multi_init();
  std::vector<CURL*> idle;
  for (long i = 0; i < parallel; ++i) idle.push_back(curl_easy_init());
  std::size_t next = 0;
  int running = 0;
  do {
    while (next < urls.size() && !idle.empty()) {
      CURL* easy = idle.back();
      idle.pop_back();
      curl_easy_reset(easy);
      SetUp(easy, urls[next++], bytes);
      curl_multi_add_handle(multi, easy);
    }
    curl_multi_perform(multi, &running);
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
      if (message->msg != CURLMSG_DONE) continue;
      CURL* easy = message->easy_handle;
      if (!Succeeded(easy, message->data.result)) ++failures;
      curl_multi_remove_handle(multi, easy);
      idle.push_back(easy);
    }
    // A transfer that ended leaves a handle free: the next URL starts at
    // once, not only after the others have something to say.
    const bool can_add = next < urls.size() && !idle.empty();
    if (running > 0 && !can_add) curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
  } while (running > 0 || next < urls.size());
  for (CURL* easy : idle) curl_easy_cleanup(easy);
  curl_multi_cleanup(multi);
  return failures;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fputs("usage: curl_loop URL_FILE [PARALLEL]\n", stderr);
    return 2;
  }
  const long parallel = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 1;
  if (parallel < 1) {
    std::fputs("curl_loop: PARALLEL must be at least 1\n", stderr);
    return 2;
  }
  std::vector<std::string> urls;
  std::ifstream list(argv[1]);
  for (std::string line; std::getline(list, line);) {
    if (!line.empty()) urls.push_back(line);
  }
  if (urls.empty()) {
    std::fprintf(stderr, "curl_loop: no URL in %s\n", argv[1]);
    return 2;
  }

  curl_global_init(CURL_GLOBAL_DEFAULT);
  std::size_t bytes = 0;
  const auto start = std::chrono::steady_clock::now();
  const std::size_t failures =
      parallel == 1 ? FetchSequentially(urls, &bytes) : FetchInParallel(urls, parallel, &bytes);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  curl_global_cleanup();

  std::printf("%zu URLs, %zu failed, %zu bytes, %.3f s, %.0f URLs/s\n", urls.size(), failures,
              bytes, seconds, static_cast<double>(urls.size()) / seconds);
  return 0;
}
