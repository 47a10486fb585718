// The network settings of the fetch: a proxy with its exclusions, and a CA
// bundle of the site's own trusted instead of the system's. Every server is
// one the test starts on 127.0.0.1: the origin and the proxy are loopback
// HTTP servers, the HTTPS site a Python server with a certificate from a CA
// made here with openssl. Hosts under .invalid are never resolved: a request
// for one can only succeed through the proxy.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "freebusy/http_client.h"
#include "tests/support/http_test_server.h"
#include "tests/support/table_text_source.h"
#include "tests/support/timed_child.h"

namespace {

namespace fs = std::filesystem;
using test_support::ChildOutcome;

const std::string kText = test_support::FreeBusyText({"20240102T090000Z/20240102T100000Z"});

HttpReply TextReply(const HttpRequestRecord&) {
  HttpReply reply;
  reply.body = kText;
  return reply;
}

// Sets an environment variable for one test and restores it after.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    if (value != nullptr)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

struct ProxyCase {
  const char* name;
  bool proxy_set;            // HarvestProxy names the proxy
  const char* no_proxy;      // HarvestNoProxy, or null when not set
  const char* env_proxy;     // http_proxy in the environment: "proxy" or null
  const char* env_no_proxy;  // no_proxy in the environment, or null
  bool to_origin;            // the URL is the origin's (else a host under .invalid)
  bool via_proxy;            // the proxy must have carried the request
};
void PrintTo(const ProxyCase& c, std::ostream* os) { *os << c.name; }

class ProxyTest : public testing::TestWithParam<ProxyCase> {
 protected:
  HttpTestServer proxy_{0, TextReply};
  HttpTestServer origin_{0, TextReply};
};

TEST_P(ProxyTest, GoesWhereTheSettingsSay) {
  const ProxyCase& c = GetParam();
  ASSERT_TRUE(proxy_.ok() && origin_.ok());
  const std::string proxy_url = "http://127.0.0.1:" + std::to_string(proxy_.port());
  ScopedEnv env_proxy("http_proxy", c.env_proxy ? proxy_url.c_str() : nullptr);
  ScopedEnv env_no_proxy("no_proxy", c.env_no_proxy);
  ScopedEnv all_proxy("ALL_PROXY", nullptr);
  FetchLimits limits;
  if (c.proxy_set) limits.network.proxy = proxy_url;
  if (c.no_proxy) {
    limits.network.no_proxy = c.no_proxy;
    limits.network.no_proxy_set = true;
  }
  HttpClient client(limits);
  const std::string url =
      c.to_origin ? origin_.Url("/fb/alice.ifb") : "http://cal.invalid/alice.ifb";
  const Download download = client.Get(url.c_str());
  EXPECT_EQ(download.result, 1) << download.messages;
  EXPECT_EQ(download.body, kText);
  if (c.via_proxy) {
    ASSERT_EQ(proxy_.Requests().size(), 1u);
    EXPECT_EQ(proxy_.Requests()[0].request_line, "GET " + url + " HTTP/1.1");
    EXPECT_TRUE(origin_.Requests().empty());
  } else {
    EXPECT_TRUE(proxy_.Requests().empty());
    EXPECT_EQ(origin_.Requests().size(), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, ProxyTest,
    testing::Values(ProxyCase{"ProxySetting", true, nullptr, nullptr, nullptr, false, true},
                    ProxyCase{"ProxySettingIgnoresEnvironmentNoProxy", true, nullptr, nullptr, "*",
                              false, true},
                    ProxyCase{"NoProxySettingGoesDirect", true, "localhost,127.0.0.1", nullptr,
                              nullptr, true, false},
                    ProxyCase{"NoProxySettingOtherHostStillProxied", true, "example.org", nullptr,
                              nullptr, true, true},
                    ProxyCase{"EnvironmentProxyWithoutSettings", false, nullptr, "proxy", nullptr,
                              false, true},
                    ProxyCase{"NoProxySettingAppliesToEnvironmentProxy", false, "127.0.0.1",
                              "proxy", nullptr, true, false}),
    [](const testing::TestParamInfo<ProxyCase>& info) { return std::string(info.param.name); });

// The HTTPS site: a CA and a server certificate for 127.0.0.1 made with
// openssl, another CA that signed nothing here, and the TLS server.
class CaFileTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = fs::temp_directory_path() / ("ca_file_test_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "site");
    std::ofstream(dir_ / "site" / "alice.ifb") << kText;
    const char* script =
        "set -e\n"
        "cd \"$0\"\n"
        "key='-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes'\n"
        "for ca in ca other; do\n"
        "  openssl req -x509 $key -keyout $ca.key -out $ca.pem -days 2 -subj \"/CN=Test $ca\" \\\n"
        "    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=keyCertSign 2>/dev/null\n"
        "done\n"
        "openssl req $key -keyout site.key -out site.csr -subj /CN=127.0.0.1 2>/dev/null\n"
        "printf 'subjectAltName=IP:127.0.0.1\\n' >site.ext\n"
        "openssl x509 -req -in site.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \\\n"
        "  -extfile site.ext -out site.pem 2>/dev/null\n";
    const ChildOutcome made = test_support::RunTimedChild("/bin/sh", {"-c", script, dir_.string()}, dir_);
    if (!made.Exited(0)) {
      unavailable_ = "openssl could not make the certificates: " + made.err;
      return;
    }
    server_ = std::make_unique<test_support::TimedChild>();
    server_->Start(
        "/usr/bin/python3",
        {HARVEST_SOURCE_DIR "/tests/support/tls_server.py", (dir_ / "site").string(),
         (dir_ / "site.pem").string(), (dir_ / "site.key").string(), (dir_ / "port").string()},
        dir_, "tls_server");
    // Python with its TLS module takes a while to start on a loaded machine.
    for (int i = 0; i < 1200 && !fs::exists(dir_ / "port"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    std::ifstream port_file(dir_ / "port");
    if (!(port_file >> port_)) {
      unavailable_ = "the TLS server did not start: " + server_->Wait(std::chrono::seconds(1)).err;
    }
  }
  static void TearDownTestSuite() {
    server_.reset();
    fs::remove_all(dir_);
  }

  Download Get(const std::string& ca_file) {
    FetchLimits limits;
    limits.network.ca_file = ca_file;
    HttpClient client(limits);
    const std::string url = "https://127.0.0.1:" + std::to_string(port_) + "/alice.ifb";
    return client.Get(url.c_str());
  }

  static inline fs::path dir_;
  static inline std::string unavailable_;
  static inline std::unique_ptr<test_support::TimedChild> server_;
  static inline int port_ = 0;
};

TEST_F(CaFileTest, TheSiteCaIsTrustedOnlyThroughTheSetting) {
  if (!unavailable_.empty()) GTEST_SKIP() << unavailable_;
  const Download trusted = Get((dir_ / "ca.pem").string());
  EXPECT_EQ(trusted.result, 1) << trusted.messages;
  EXPECT_EQ(trusted.body, kText);
  EXPECT_EQ(trusted.facts.http_status, 200);

  // The system's store does not know the site's CA, and another CA does not
  // vouch for it: verification stays on either way.
  for (const std::string& ca_file : {std::string(), (dir_ / "other.pem").string()}) {
    const Download refused = Get(ca_file);
    EXPECT_EQ(refused.result, -1) << ca_file;
    EXPECT_NE(refused.messages.find("ERR -- No response from \"127.0.0.1:"), std::string::npos)
        << refused.messages;
    EXPECT_EQ(refused.facts.http_status, 0);
  }
}

}  // namespace
