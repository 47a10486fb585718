// The schedule entries and the busy-time document fill, byte for byte, against
// the fake gateway (whose time conversion uses the local runtime's layout).
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "freebusy/busytime_fill.h"
#include "freebusy/sched_entry.h"
#include "notes/backend.h"
#include "tests/support/fake_gateway.h"
#include "tests/support/faulty_backend.h"
#include "tests/support/table_text_source.h"

namespace {

using test_support::FakeGateway;
using test_support::FakeItem;

BusyPeriodText Period(const char* start, const char* end) {
  BusyPeriodText period{};
  std::snprintf(period.start, sizeof period.start, "%s", start);
  std::snprintf(period.end, sizeof period.end, "%s", end);
  return period;
}

std::vector<BusyPeriodText> ThreePeriods() {
  return {Period("2007-01-02 08:00:00 GMT", "2007-01-02 09:30:00 GMT"),
          Period("2007-01-03 10:00:00 GMT", "2007-01-03 11:00:00 GMT"),
          Period("2007-01-04 12:15:30 GMT", "2007-01-04 13:00:00 GMT")};
}

// The settings with which the import reads its time texts.
const IntlSettings kIntl = [] {
  IntlSettings intl{};
  intl.flags = 396;
  return intl;
}();
constexpr TimeTextFormat kFormat{{4, 0, 0, 2}};

// The TimeDate bytes the fake (and the local runtime) give for a time text.
std::array<std::uint8_t, 8> TimeBytes(const char* text) {
  FakeGateway fake;
  TimeDate time{};
  const char* cursor = text;
  EXPECT_EQ(fake.TextToTime(&kIntl, &kFormat, &cursor, 23, &time), 0) << text;
  std::array<std::uint8_t, 8> bytes{};
  std::memcpy(bytes.data(), time.bytes, 8);
  return bytes;
}

class FillTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_.databases["busytime.nsf"];
    ASSERT_EQ(NotesInit(0, nullptr), 0);
    ASSERT_EQ(DbOpen("busytime.nsf", &db_), 0);
    ASSERT_EQ(NoteCreate(db_, &note_), 0);
  }

  const std::vector<FakeItem>& Items() { return fake_.open_notes.at(note_).items; }

  const FakeItem& Item(const std::string& name) {
    for (const FakeItem& item : Items()) {
      if (item.name == name) return item;
    }
    ADD_FAILURE() << "no item " << name;
    static const FakeItem none;
    return none;
  }

  std::string Fill(const std::vector<BusyPeriodText>& periods, const char* user = "a@x.org") {
    testing::internal::CaptureStdout();
    Status error = 1;
    EXPECT_EQ(PopulateBusyTime(note_, user, periods, &error), 1);
    EXPECT_EQ(error, 0);
    return testing::internal::GetCapturedStdout();
  }

  FakeGateway fake_;
  notes::ScopedBackend scoped_{fake_};
  DbHandle db_ = 0;
  NoteHandle note_ = 0;
};

TEST(SchedEntry, LayoutOfBothRecords) {
  FakeGateway fake;
  notes::ScopedBackend scoped(fake);

  std::array<std::uint8_t, 80> entry;
  entry.fill(0xEE);
  BuildSchedEntry("2007-01-02 08:00:00 GMT", "2007-01-02 09:30:00 GMT", entry.data(), &kIntl,
                  &kFormat);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(entry[i], 0) << i;
  const auto start = TimeBytes("2007-01-02 08:00:00 GMT");
  const auto end = TimeBytes("2007-01-02 09:30:00 GMT");
  EXPECT_TRUE(std::equal(start.begin(), start.end(), entry.begin() + 16));
  EXPECT_TRUE(std::equal(end.begin(), end.end(), entry.begin() + 24));
  EXPECT_EQ((std::array<std::uint8_t, 4>{entry[32], entry[33], entry[34], entry[35]}),
            (std::array<std::uint8_t, 4>{8, 0, 0, 0}));
  for (std::size_t i = 36; i < entry.size(); ++i) EXPECT_EQ(entry[i], 0xEE) << "untouched " << i;

  std::array<std::uint8_t, 80> ext;
  ext.fill(0xEE);
  BuildSchedEntryExt("2007-01-02 08:00:00 GMT", "2007-01-02 09:30:00 GMT", ext.data(), &kIntl,
                     &kFormat);
  EXPECT_TRUE(std::equal(entry.begin(), entry.begin() + 36, ext.begin()));
  const std::uint8_t appt[16] = {0xc0, 0x28, 0x59, 0xf1, 0x92, 0x0f, 0x08, 0x3d,
                                 0xf2, 0x8e, 0x79, 0x00, 0x61, 0x71, 0x25, 0x88};
  EXPECT_EQ(std::memcmp(ext.data() + 36, appt, 16), 0);
  for (int i = 52; i < 72; ++i) EXPECT_EQ(ext[i], 0) << i;
  for (std::size_t i = 72; i < ext.size(); ++i) EXPECT_EQ(ext[i], 0xEE) << "untouched " << i;
}

TEST(SchedEntry, UnreadableTimeTextGivesZeroTimeNotLeftovers) {
  FakeGateway fake;
  notes::ScopedBackend scoped(fake);
  std::array<std::uint8_t, 36> entry;
  entry.fill(0xEE);
  BuildSchedEntry("2007-13-02 08:00:00 GMT", "garbage", entry.data(), &kIntl, &kFormat);
  for (int i = 16; i < 32; ++i) EXPECT_EQ(entry[i], 0) << i;
  EXPECT_EQ(entry[32], 8);
}

TEST(SchedEntry, CopyBytesCopiesTheDifference) {
  const std::array<std::uint8_t, 44> source = [] {
    std::array<std::uint8_t, 44> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i + 1);
    return bytes;
  }();
  struct Case {
    std::int32_t from, to;
    std::size_t copied;
  };
  for (const Case c : {Case{8, 44, 36}, Case{5, 5, 0}, Case{9, 3, 0}, Case{-2, 1, 3}}) {
    std::array<std::uint8_t, 44> destination{};
    EXPECT_EQ(CopyBytes(destination.data(), source.data(), c.from, c.to), 1);
    for (std::size_t i = 0; i < destination.size(); ++i) {
      EXPECT_EQ(destination[i], i < c.copied ? source[i] : 0) << c.from << ".." << c.to << " @" << i;
    }
  }
}

TEST_F(FillTest, ThreePeriodsGiveListsOfExactLayout) {
  EXPECT_EQ(Fill(ThreePeriods()), "");

  const FakeItem& list = Item("EventList");
  const FakeItem& ext = Item("EventListExt");
  ASSERT_EQ(list.bytes.size(), 116u);
  ASSERT_EQ(ext.bytes.size(), 224u);
  EXPECT_EQ(list.type, 22);
  EXPECT_EQ(ext.type, 22);
  EXPECT_EQ(list.flags, 0);
  EXPECT_EQ(ext.flags, 0);
  EXPECT_EQ(std::vector<std::uint8_t>(list.bytes.begin(), list.bytes.begin() + 8),
            (std::vector<std::uint8_t>{3, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(std::vector<std::uint8_t>(ext.bytes.begin(), ext.bytes.begin() + 8),
            (std::vector<std::uint8_t>{3, 0, 0, 0, 0, 0, 72, 0}));

  // The third period sits at bytes 80-115 and 152-223.
  const auto start = TimeBytes("2007-01-04 12:15:30 GMT");
  const auto end = TimeBytes("2007-01-04 13:00:00 GMT");
  EXPECT_TRUE(std::equal(start.begin(), start.end(), list.bytes.begin() + 80 + 16));
  EXPECT_TRUE(std::equal(end.begin(), end.end(), list.bytes.begin() + 80 + 24));
  EXPECT_TRUE(std::equal(list.bytes.begin() + 80, list.bytes.end(), ext.bytes.begin() + 152));
  EXPECT_EQ(ext.bytes[152 + 36], 0xc0);
  for (int period = 0; period < 3; ++period) {
    EXPECT_TRUE(std::equal(list.bytes.begin() + 8 + 36 * period,
                           list.bytes.begin() + 44 + 36 * period,
                           ext.bytes.begin() + 8 + 72 * period))
        << "entry " << period << " of both lists describes the same period";
  }

  const FakeItem& allow = Item("AllowList");
  EXPECT_EQ(allow.bytes, std::vector<std::uint8_t>{0});
  EXPECT_EQ(allow.type, 1280);
  EXPECT_EQ(allow.flags, 4);
}

TEST_F(FillTest, StampsAndTextItemsInOrder) {
  Fill(ThreePeriods(), "Alice.Smith@example.com");

  std::vector<std::string> names;
  for (const FakeItem& item : Items()) names.push_back(item.name);
  EXPECT_EQ(names, (std::vector<std::string>{
                       "LastModTime", "LastModTimeExt", "MailFileReplicaID", "DetailModTime",
                       "ProfileModTime", "BTVersion", "BusyTimeHarvestOptOut", "OptinOutChange",
                       "$Name", "EventList", "EventListExt", "AllowList"}));
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(Items()[i].bytes, std::vector<std::uint8_t>(fake_.now.bytes, fake_.now.bytes + 8));
  }
  EXPECT_EQ(fake_.CallsWithout({"NotesInit", "DbOpen", "NoteCreate", "ItemSetTime", "ItemSetText",
                                "TextToTime", "ItemAppend", "GetIntlSettings"}),
            std::vector<std::string>{"CurrentTime"})
      << "the current time is taken once";
  for (const char* name : {"BTVersion", "BusyTimeHarvestOptOut", "OptinOutChange"}) {
    EXPECT_EQ(Item(name).bytes, (std::vector<std::uint8_t>{'1', 0})) << name;
  }
  const std::string address = "Alice.Smith@example.com";
  EXPECT_EQ(Item("$Name").bytes, std::vector<std::uint8_t>(address.begin(), address.end()));
}

TEST_F(FillTest, NoPeriodStillWritesHeaderOnlyLists) {
  EXPECT_EQ(Fill({}), "");
  EXPECT_EQ(Item("EventList").bytes, std::vector<std::uint8_t>(8, 0));
  EXPECT_EQ(Item("EventListExt").bytes, (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0, 72, 0}));
  EXPECT_EQ(Item("AllowList").bytes, std::vector<std::uint8_t>{0});
}

TEST_F(FillTest, MoreThan255PeriodsKeepsTheFirst255AndSaysSo) {
  std::vector<BusyPeriodText> periods;
  char start[24], end[24];
  for (int i = 0; i < 300; ++i) {
    std::snprintf(start, sizeof start, "2007-01-%02d %02d:00:00 GMT", 1 + i / 20, i % 20);
    std::snprintf(end, sizeof end, "2007-01-%02d %02d:30:00 GMT", 1 + i / 20, i % 20);
    periods.push_back(Period(start, end));
  }
  EXPECT_EQ(Fill(periods, "b@x.org"), "");  // the run warns before it fills
  testing::internal::CaptureStdout();
  WarnAboutDroppedPeriods("b@x.org", 255);
  WarnAboutDroppedPeriods("b@x.org", 300);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "WARN -- b@x.org has 300 busy periods; a busy-time document holds 255, so 45 were "
            "dropped: those over first, then the last.\n");
  const FakeItem& list = Item("EventList");
  const FakeItem& ext = Item("EventListExt");
  ASSERT_EQ(list.bytes.size(), 8u + 36 * 255);
  ASSERT_EQ(ext.bytes.size(), 8u + 72 * 255);
  EXPECT_EQ(list.bytes[0], 255);
  EXPECT_EQ(ext.bytes[0], 255);
  const auto last = TimeBytes(periods[254].start);
  EXPECT_TRUE(std::equal(last.begin(), last.end(), list.bytes.begin() + 8 + 36 * 254 + 16));
}

TEST_F(FillTest, SettingsAreReadOnEveryCall) {
  Fill(ThreePeriods());
  NoteHandle second = 0;
  ASSERT_EQ(NoteCreate(db_, &second), 0);
  testing::internal::CaptureStdout();
  Status error = 0;
  PopulateBusyTime(second, "c@x.org", ThreePeriods(), &error);
  testing::internal::GetCapturedStdout();
  int reads = 0;
  for (const std::string& call : fake_.calls) reads += call.rfind("GetIntlSettings", 0) == 0;
  EXPECT_EQ(reads, 2);
}

TEST(ReadUserBusyTime, FailedFetchAndInvalidTextAreFailures) {
  test_support::TableTextSource source;
  source.table["http://h/ok"] = {1, test_support::FreeBusyText({"20070102T080000Z/20070102T093000Z"}), ""};
  source.table["http://h/down"] = {-1, "", "Error 7 has occurred.\n"};
  source.table["http://h/html"] = {1, "<html>not a calendar</html>", ""};

  std::vector<BusyPeriodText> periods;
  testing::internal::CaptureStdout();
  EXPECT_EQ(ReadUserBusyTime(source, "http://h/ok", periods, {}), 1);
  ASSERT_EQ(periods.size(), 1u);
  EXPECT_STREQ(periods[0].start, "2007-01-02 08:00:00 GMT");
  EXPECT_STREQ(periods[0].end, "2007-01-02 09:30:00 GMT");
  EXPECT_EQ(ReadUserBusyTime(source, "http://h/down", periods, {}), -1);
  EXPECT_EQ(ReadUserBusyTime(source, "http://h/html", periods, {}), -1);
  EXPECT_TRUE(periods.empty());
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error 7 has occurred.\nERR -- Invalid iCal file format\n");
}

// Read as the run reads it, a big text keeps a document's worth of periods
// and counts the rest, which are still checked: a malformed one past the
// first 255 is warned about and not counted, just as when all are kept.
TEST(ReadUserBusyTime, KeepsADocumentsWorthAndCountsTheRest) {
  std::vector<std::string> texts;
  for (int i = 0; i < 300; ++i) {
    char period[40];
    std::snprintf(period, sizeof period, "200701%02dT%02d0000Z/PT30M", 1 + i / 20, i % 20);
    texts.push_back(period);
  }
  texts.push_back("20070199T000000Z/PT1H");
  test_support::TableTextSource source;
  source.table["http://h/big"] = {1, test_support::FreeBusyText(texts), ""};

  std::vector<BusyPeriodText> all;
  std::vector<BusyPeriodText> kept;
  std::size_t total = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(ReadUserBusyTime(source, "http://h/big", all, {}), 1);
  const std::string all_lines = testing::internal::GetCapturedStdout();
  testing::internal::CaptureStdout();
  EXPECT_EQ(ReadUserBusyTime(source, "http://h/big", kept, {}, nullptr, &total), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), all_lines);
  EXPECT_NE(all_lines.find("Skipped malformed busy period"), std::string::npos);
  ASSERT_EQ(all.size(), 300u);
  EXPECT_EQ(total, 300u);
  ASSERT_EQ(kept.size(), 255u);
  EXPECT_STREQ(kept[254].end, all[254].end);
}

// A text that starts in the past and holds more than a document's worth
// keeps every period still to come: those over a day before the run's start
// give way, the first first; one ending exactly then is over.
TEST(ReadUserBusyTime, PeriodsOverGiveWayToThoseToCome) {
  std::vector<std::string> texts;
  char period[40];
  for (int i = 0; i < 99; ++i) {
    std::snprintf(period, sizeof period, "202912%02dT%02d0000Z/PT30M", 1 + i / 20, i % 20);
    texts.push_back(period);
  }
  texts.push_back("20291230T230000Z/20291231T000000Z");
  texts.push_back("20291231T110000Z/PT1H");  // within the last day: not over
  for (int i = 0; i < 199; ++i) {
    std::snprintf(period, sizeof period, "203002%02dT%02d0000Z/PT30M", 1 + i / 20, i % 20);
    texts.push_back(period);
  }
  test_support::TableTextSource source;
  source.table["http://h/long"] = {1, test_support::FreeBusyText(texts), ""};
  CalendarSettings settings;
  settings.run_start = 1893456000;  // 2030-01-01 00:00:00 UTC

  std::vector<BusyPeriodText> all;
  std::vector<BusyPeriodText> kept;
  std::size_t total = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(ReadUserBusyTime(source, "http://h/long", all, settings), 1);
  EXPECT_EQ(ReadUserBusyTime(source, "http://h/long", kept, settings, nullptr, &total), 1);
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(all.size(), 300u);
  EXPECT_EQ(total, 300u);
  ASSERT_EQ(kept.size(), 255u);
  for (std::size_t i = 0; i < kept.size(); ++i)
    EXPECT_STREQ(kept[i].start, all[45 + i].start) << i;
}

// A write the store refuses ends the fill at once with its status, so that
// the run never saves a document that lacks the user's address or lists.
TEST_F(FillTest, AFailedWriteStopsTheFillWithItsStatus) {
  const struct {
    const char* operation;
    int call;
    std::size_t items_before;  // items written before the failing one
  } kCases[] = {{"ItemSetTime", 1, 0}, {"ItemSetText", 4, 8}, {"ItemAppend", 1, 9},
                {"ItemAppend", 3, 11}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.operation) + " call " + std::to_string(c.call));
    FakeGateway fake;
    fake.databases["busytime.nsf"];
    test_support::FaultyBackend faults(fake);
    faults.Fail(c.operation, 0x0118, c.call);
    notes::ScopedBackend installed(faults);
    ASSERT_EQ(NotesInit(0, nullptr), 0);
    DbHandle db = 0;
    NoteHandle note = 0;
    ASSERT_EQ(DbOpen("busytime.nsf", &db), 0);
    ASSERT_EQ(NoteCreate(db, &note), 0);
    Status error = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(PopulateBusyTime(note, "a@x.org", ThreePeriods(), &error), -1);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(error, 0x0118);
    EXPECT_EQ(fake.open_notes.at(note).items.size(), c.items_before);
  }
}

}  // namespace
