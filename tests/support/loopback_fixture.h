// Fixtures for the suites that talk to a loopback server of their own. The
// traffic must reach that server directly, whatever proxy the environment
// names, so each suite sets no_proxy before its first test; the programs
// that the process-level suites start inherit it.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/harvest_directory.h"
#include "tests/support/http_test_server.h"

namespace test_support {

// One loopback server: the scripted replies of Reply(), unless `serve` answers.
class LoopbackTest : public testing::Test {
 protected:
  explicit LoopbackTest(HttpTestServer::Handler serve = nullptr) : server_(0, std::move(serve)) {}

  static void SetUpTestSuite() {
    setenv("no_proxy", "127.0.0.1", 1);
    setenv("NO_PROXY", "127.0.0.1", 1);
  }
  void SetUp() override { ASSERT_TRUE(server_.ok()); }

  // The server as the download's messages quote it: "127.0.0.1:PORT" in quotes.
  std::string HostInMessages() const {
    return "\"127.0.0.1:" + std::to_string(server_.port()) + "\"";
  }

  HttpTestServer server_;
};

// The built programs run as processes on a data directory of their own,
// made for each test by `nsfutil init` with `init_options`.
class HarvestProcessTest : public LoopbackTest {
 protected:
  explicit HarvestProcessTest(const std::string& prefix, HttpTestServer::Handler serve = nullptr,
                              std::vector<std::string> init_options = {})
      : LoopbackTest(std::move(serve)),
        dir_(HARVEST_BINARY_DIR, prefix),
        init_options_(std::move(init_options)) {}

  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(LoopbackTest::SetUp());
    ASSERT_TRUE(dir_.ok());
    const ChildOutcome init = dir_.Init(init_options_);
    ASSERT_TRUE(init.Exited(0)) << Describe(init);
  }

  HarvestDirectory dir_;

 private:
  std::vector<std::string> init_options_;
};

}  // namespace test_support
