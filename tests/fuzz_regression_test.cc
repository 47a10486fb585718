// Inputs the fuzz targets (fuzz/) found faults with, kept so that the faults
// stay fixed. Each case is the smallest input that shows its fault.
#include <gtest/gtest.h>

#include <string>

#include "freebusy/http_url.h"

namespace {

// A redirect to the same origin whose URL brings a password but no user name
// has user information of its own: the user name of the first URL must not be
// joined to a password the server chose, and what the target says it sends
// must be what its URL sends.
TEST(FuzzRegressionTest, RedirectWithOnlyAPasswordKeepsItsOwnUserInformation) {
  const struct {
    const char* first;
    const char* next;
  } kCases[] = {
      {"http://alice@127.0.0.1/fb", "http://:secret@127.0.0.1/next"},
      {"http://alice:pw@127.0.0.1:8080/fb", "127.0.0.1:8080/next"},
      {"http://alice@127.0.0.1/fb", "//:secret@127.0.0.1:80/next"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.first) + " -> " + c.next);
    FetchTarget first;
    FetchTarget next;
    std::string why;
    ASSERT_TRUE(CheckFetchUrl(c.first, first, why)) << why;
    ASSERT_TRUE(CheckFetchUrl(c.next, next, why)) << why;

    FetchTarget carried = next;
    CarryCredentials(carried, first);
    FetchTarget sent;
    ASSERT_TRUE(CheckFetchUrl(carried.url.c_str(), sent, why)) << why;
    EXPECT_EQ(sent.user, carried.user);
    EXPECT_EQ(sent.password, carried.password);
    if (next.user.empty() && next.password.empty()) {
      EXPECT_EQ(carried.user, first.user);
      EXPECT_EQ(carried.password, first.password);
    } else {
      EXPECT_EQ(carried.url, next.url);
      EXPECT_EQ(carried.user, next.user);
      EXPECT_EQ(carried.password, next.password);
    }
  }
}

}  // namespace
