// Texts the local runtime reads from outside: time texts and database names.
#include <array>
#include <chrono>
#include <cstring>

#include "notes/local/db_path.h"
#include "notes/local/time_date.h"
#include "notes/status_codes.h"
#include "tests/notes_local_fixture.h"

namespace notes::local {
namespace {

struct TimeTextCall {
  IntlSettings settings{};
  TimeTextFormat format{{4, 0, 0, 2}};
  TimeTextCall() { settings.flags = 396; }
  Status Convert(const char* text, std::size_t length, TimeDate* time, const char** end) {
    *end = text;
    return TextToTime(&settings, &format, end, static_cast<std::uint16_t>(length), time);
  }
};

TEST(LocalTimeText, ConvertsTheGmtTextToJulianDayAndHundredths) {
  TimeTextCall call;
  // Exactly 23 bytes, no terminator: nothing may be read beyond them.
  std::array<char, 23> text;
  std::memcpy(text.data(), "2007-01-02 08:00:00 GMT", 23);
  TimeDate time{};
  const char* end = nullptr;
  ASSERT_EQ(call.Convert(text.data(), text.size(), &time, &end), 0);
  EXPECT_EQ(end, text.data() + 23);
  std::int64_t day = 0;
  std::uint32_t hundredths = 0;
  ASSERT_TRUE(DecodeTimeDate(time, &day, &hundredths));
  EXPECT_EQ(day, 2454103);
  EXPECT_EQ(hundredths, 2880000u);
  EXPECT_EQ(FormatTimeDateIso(time), "2007-01-02T08:00:00Z");

  for (const char* valid :
       {"2000-02-29 23:59:59 GMT", "0001-01-01 00:00:00 GMT", "9999-12-31 23:59:59 GMT"}) {
    EXPECT_EQ(call.Convert(valid, 23, &time, &end), 0) << valid;
    std::string iso = FormatTimeDateIso(time);
    EXPECT_EQ(iso.substr(0, 10) + " " + iso.substr(11, 8) + " GMT", valid);
  }
}

TEST(LocalTimeText, RefusesMalformedTextsAndLeavesTheResultUntouched) {
  const struct {
    const char* text;
    std::size_t length;
  } kCases[] = {
      {"2007-01-02 08:00:00 GMT", 22},
      {"2007-01-02 08:00:00 GMTX", 24},
      {"2007-01-02 08:00:00 UTC", 23},
      {"2007-01-02T08:00:00 GMT", 23},
      {"2007/01/02 08:00:00 GMT", 23},
      {"2007-1-02 08:00:00 GMT ", 23},
      {"+007-01-02 08:00:00 GMT", 23},
      {"2007-01-02 08:00:0x GMT", 23},
      {"0000-01-01 00:00:00 GMT", 23},
      {"2007-00-10 00:00:00 GMT", 23},
      {"2007-13-10 00:00:00 GMT", 23},
      {"2007-01-00 00:00:00 GMT", 23},
      {"2007-01-32 00:00:00 GMT", 23},
      {"2007-04-31 00:00:00 GMT", 23},
      {"2007-02-29 00:00:00 GMT", 23},
      {"1900-02-29 00:00:00 GMT", 23},
      {"2007-01-02 24:00:00 GMT", 23},
      {"2007-01-02 08:60:00 GMT", 23},
      {"2007-01-02 08:00:60 GMT", 23},
      {"2007-01-02 08:00:00 gmt", 23},
      {"", 0},
  };
  TimeTextCall call;
  for (const auto& test : kCases) {
    TimeDate time;
    std::memset(&time, 0xAB, sizeof time);
    const char* end = nullptr;
    EXPECT_EQ(call.Convert(test.text, test.length, &time, &end), kErrTimeText) << test.text;
    EXPECT_EQ(end, test.text) << test.text;
    EXPECT_EQ(time.bytes[0], 0xAB) << test.text;
    EXPECT_EQ(time.bytes[7], 0xAB) << test.text;
  }

  TimeDate time{};
  const char* end = nullptr;
  call.settings.flags = 0;
  EXPECT_EQ(call.Convert("2007-01-02 08:00:00 GMT", 23, &time, &end), kErrBadArgument);
  call.settings.flags = 396;
  call.format.bytes[3] = 1;
  EXPECT_EQ(call.Convert("2007-01-02 08:00:00 GMT", 23, &time, &end), kErrBadArgument);
}

TEST(LocalTimeText, CurrentTimeIsNow) {
  TimeDate now{};
  CurrentTime(&now);
  std::int64_t day = 0;
  ASSERT_TRUE(DecodeTimeDate(now, &day, nullptr));
  auto unix_days = std::chrono::duration_cast<std::chrono::hours>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count() /
                   24;
  EXPECT_NEAR(day, unix_days + kJulianDayOfUnixEpoch, 1);
}

using LocalDatabaseNames = LocalRuntimeTest;

TEST_F(LocalDatabaseNames, ServerAndFileNamesMapInsideTheDataDirectory) {
  ASSERT_EQ(Start(), 0);
  char path[kMaxPathBuffer];
  ASSERT_EQ(MakeNetPath(nullptr, "Mail1/Acme", "busytime.nsf", path), 0);
  EXPECT_STREQ(path, "Mail1/Acme::busytime.nsf");
  ASSERT_EQ(runtime_.CreateDatabase(path), 0);
  EXPECT_TRUE(std::filesystem::exists(data_ / "servers" / "Mail1%2FAcme" / "busytime.nsf"));
  ASSERT_EQ(MakeNetPath(nullptr, "", "mail/local.nsf", path), 0);
  EXPECT_STREQ(path, "mail/local.nsf");
  EXPECT_EQ(MakeNetPath("TCPIP", "Mail1", "a.nsf", path), kErrBadArgument);
  EXPECT_STREQ(path, "");
  const std::string long_file(kMaxPathBuffer, 'f');
  EXPECT_EQ(MakeNetPath(nullptr, "Mail1", long_file.c_str(), path), kErrPathTooLong);
  EXPECT_STREQ(path, "");
}

TEST_F(LocalDatabaseNames, HostileNamesNeverLeaveTheDataDirectory) {
  ASSERT_EQ(Start(), 0);
  const std::string long_component(300, 'x');
  const struct {
    const char* server;
    std::string file;
    Status expected;  // of CreateDatabase
  } kCases[] = {
      {"..", "escape1.nsf", 0},
      {"../..", "escape2.nsf", 0},
      {".", "escape3.nsf", 0},
      {"/tmp", "escape4.nsf", 0},
      {"..\\..\\tmp", "escape5.nsf", 0},
      {"a%2F..", "escape6.nsf", 0},
      {"srv:x", "escape7.nsf", 0},
      {"\x01\x7F\xFF", "escape8.nsf", 0},
      {"", "../escape.nsf", kErrInvalidPath},
      {"", "/tmp/escape.nsf", kErrInvalidPath},
      {"", "mail/../../escape.nsf", kErrInvalidPath},
      {"", "./escape.nsf", kErrInvalidPath},
      {"", "mail//escape.nsf", kErrInvalidPath},
      {"", "mail/", kErrInvalidPath},
      {"", "..\\escape.nsf", kErrInvalidPath},
      {"", "esc\nape.nsf", kErrInvalidPath},
      {"", "", kErrInvalidPath},
      {"Srv", "..", kErrInvalidPath},
      {"Srv", "../../escape.nsf", kErrInvalidPath},
      {"", long_component, kErrPathTooLong},
  };
  for (const auto& test : kCases) {
    char path[kMaxPathBuffer];
    ASSERT_EQ(MakeNetPath(nullptr, test.server, test.file.c_str(), path), 0) << test.server;
    EXPECT_EQ(runtime_.CreateDatabase(path), test.expected) << path;
    DbHandle db = 0;
    EXPECT_EQ(DbOpen(path, &db), test.expected) << path;
    if (db != 0) DbClose(db);
  }
  char path[kMaxPathBuffer] = "x";
  EXPECT_EQ(MakeNetPath(nullptr, "a::b", "c.nsf", path), kErrInvalidPath);
  EXPECT_STREQ(path, "");

  // Everything that was created lies below the data directory.
  std::size_t databases = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root_)) {
    if (!entry.is_regular_file()) continue;
    const std::string name = entry.path().filename().string();
    if (name == "notes.ini") continue;
    auto relative = entry.path().lexically_relative(data_);
    EXPECT_NE(*relative.begin(), "..") << entry.path();
    if (entry.path().extension() == ".nsf") ++databases;
  }
  EXPECT_EQ(databases, 8u);
  EXPECT_TRUE(std::filesystem::exists(data_ / "servers" / "%2E." / "escape1.nsf"));
  EXPECT_EQ(EncodeServerName("../.."), "%2E.%2F..");
}

}  // namespace
}  // namespace notes::local
