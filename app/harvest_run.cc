// The harvest run: the runtime's start and end, the two databases, and the
// loop that gives every calendar profile's user a new busy-time document.
//
// A user's busy-time document is only touched once the user's free/busy text
// has been read: a failed download leaves the old document in place.
//
// Downloading ahead: with HarvestConcurrency above 1 every profile is read
// first, and the URLs of those that can be harvested are announced to the
// text source, which may then download them ahead. The users are still
// harvested one after the other in profile order, every database write in
// the same order as with a concurrency of 1, and whatever reading a profile
// has to say is printed at that profile's place; so the console shows the
// same lines in the same order as the run one profile at a time.
#include "app/harvest_run.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "app/calendar_settings.h"
#include "app/profile_cursor.h"
#include "app/run_recorder.h"
#include "app/run_settings.h"
#include "base/ascii.h"
#include "base/masked_url.h"
#include "directory/busytime_lookup.h"
#include "directory/calendar_profiles.h"
#include "freebusy/busytime_fill.h"
#include "freebusy/prefetch_client.h"
#include "notes/report_status.h"
#include "notes/status_codes.h"

namespace {

constexpr const char* kUnsuccessful = "\nProgram completed unsuccessfully.\n";

// The databases open for the whole run. The configuration database is left to
// the runtime's end.
struct RunDatabases {
  DbHandle db_ftsearch = 0;
  DbHandle db_handle = 0;
};

// How the run goes on after one profile.
enum class ProfileOutcome {
  kNext,     // done or skipped: go on with the next profile
  kFailed,   // stop through the failure end with the status given
  kStopped,  // the runtime has been ended: stop without using it again
};

int FailureEnd(Status error) {
  ReportStatus(error);
  std::fputs(kUnsuccessful, stdout);
  NotesTerm();
  return -1;
}

// Prints `line` as the one that explains how the user's turn ended, and keeps
// it in `user` for the run report.
void Explain(UserOutcome& user, UserOutcomeKind kind, std::string line) {
  std::printf("%s\n", line.c_str());
  user.kind = kind;
  user.reason = std::move(line);
}

// The per-user work on a profile as read: read the user's free/busy text, and
// only then replace the user's busy-time document by a new, filled one. How
// the turn ended goes into `user`.
ProfileOutcome HarvestProfile(const RunDatabases& dbs, const ProfileRead& profile,
                              TextSource& source, const CalendarSettings& calendar,
                              Status* error, UserOutcome& user) {
  user.address = profile.strUserName;
  user.url = profile.strBusyTimeURL;
  if (!profile.Usable()) {
    user.kind = UserOutcomeKind::kProfileSkipped;
    user.reason = ReportProfileProblem(profile);
    return ProfileOutcome::kNext;
  }
  const char* strUserName = profile.strUserName.c_str();
  const char* strBusyTimeURL = profile.strBusyTimeURL.c_str();
  // The URL as configured may hold a password; the console, and every mail
  // and log it ends up in, gets it masked.
  std::printf("Loading Calendar Profile for %s (%s)\n", strUserName,
              MaskUrlPassword(strBusyTimeURL).c_str());

  std::vector<BusyPeriodText> periods;
  std::size_t total_periods = 0;  // only a document's worth is kept
  const int read =
      ReadUserBusyTime(source, strBusyTimeURL, periods, calendar, &user.reason, &total_periods);
  const FetchFacts fetched = source.LastFetch();
  user.http_status = fetched.http_status;
  user.bytes = fetched.bytes;
  user.periods = total_periods;
  if (read != 1) {
    std::fputs("ERR -- Failed to read user's calendar info. User is skipped.\n\n", stdout);
    if (user.reason.empty()) user.reason = "ERR -- Failed to read user's calendar info.";
    return ProfileOutcome::kNext;
  }

  NoteHandle note_handle = 0;
  const int opened = OpenBusytimeDoc(strUserName, &note_handle, dbs.db_handle, error);
  user.kind = UserOutcomeKind::kFailed;
  if (opened == kOpenBusytimeDocFatal) return ProfileOutcome::kStopped;
  if (opened == kOpenBusytimeDocStoreFailed) {
    // The busy-time database failed: every later user would fail alike.
    Explain(user, UserOutcomeKind::kFailed,
            std::string("ERR -- Failed to replace ") + strUserName + "'s busytime document.");
    return ProfileOutcome::kFailed;
  }
  if (opened != 1) {
    Explain(user, UserOutcomeKind::kSkipped,
            std::string("Failed on populating ") + strUserName +
                "'s busy time data. User is skipped.");
    return ProfileOutcome::kNext;
  }

  WarnAboutDroppedPeriods(strUserName, total_periods);
  std::printf("Populating %s's busy time data\n\n", strUserName);
  if (PopulateBusyTime(note_handle, strUserName, periods, error) != 1) {
    // The store failed to write: the half-filled note is dropped unsaved and
    // the run stops, as for a failed save, rather than go on deleting other
    // users' documents it could not replace.
    Explain(user, UserOutcomeKind::kFailed, "ERR -- Failed to write busytime document.");
    NoteClose(note_handle);
    return ProfileOutcome::kFailed;
  }

  *error = NoteUpdate(note_handle, 0);
  if (*error != 0) {
    Explain(user, UserOutcomeKind::kFailed, "ERR -- Failed to update busytime document.");
    return ProfileOutcome::kFailed;
  }
  *error = NoteClose(note_handle);
  if (*error != 0) {
    Explain(user, UserOutcomeKind::kFailed, "ERR -- Failed to close busytime document.");
    return ProfileOutcome::kFailed;
  }
  user.kind = UserOutcomeKind::kWritten;
  return ProfileOutcome::kNext;
}

// A setting that must be a whole number from `low` to `high`: `*number`
// keeps its default when the setting is not there. False, after saying so,
// for any other value.
bool ReadWholeNumber(const char* name, std::uint64_t low, std::uint64_t high,
                     std::uint64_t* number) {
  char value[kMaxTextBuffer] = "";
  if (!GetEnvString(name, value, kMaxTextBuffer + 1)) return true;
  const std::string text = value;
  if (!text.empty() && text.size() <= 12 &&
      text.find_first_not_of("0123456789") == std::string::npos) {
    const std::uint64_t read = std::stoull(text);
    if (read >= low && read <= high) {
      *number = read;
      return true;
    }
  }
  std::printf("ERR -- The setting %s must be a whole number from %llu to %llu, not \"%s\".\n",
              name, static_cast<unsigned long long>(low), static_cast<unsigned long long>(high),
              EscapeUntrusted(text).c_str());
  return false;
}

// The settings of downloading ahead; false, after saying which is wrong,
// when one is out of range.
bool ReadAheadSettings(AheadSettings* settings) {
  std::uint64_t concurrency = static_cast<std::uint64_t>(settings->concurrency);
  std::uint64_t host_connections = static_cast<std::uint64_t>(settings->host_connections);
  if (!ReadWholeNumber("HarvestConcurrency", 1, kMaxHarvestConcurrency, &concurrency) ||
      !ReadWholeNumber("HarvestAheadBytes", 0, kMaxHarvestAheadBytes, &settings->ahead_bytes) ||
      !ReadWholeNumber("HarvestHostConnections", 1, kMaxHarvestConcurrency, &host_connections))
    return false;
  settings->concurrency = static_cast<int>(concurrency);
  settings->host_connections = static_cast<int>(host_connections);
  return true;
}

// The calendar profiles of the list, its category headings not counted.
std::uint32_t CountProfiles(const NoteId* note_ids, std::uint32_t entries) {
  std::uint32_t profiles = 0;
  for (std::uint32_t i = 0; i < entries; ++i) profiles += (note_ids[i] & kNoteIdCategory) == 0;
  return profiles;
}

// The run, with the source `make_source` gives once the settings are read.
// How each profile's turn ended goes to `recorder`.
int Run(int argc, char** argv, RunRecorder& recorder, const TextSourceFactory& make_source) {
  char path_name[kMaxPathBuffer] = {};

  Status error = NotesInit(argc, argv);
  if (error != 0) {
    std::fputs("\n Unable to initialize Notes.\n", stdout);
    return 1;
  }

  const OutputSettings outputs = ReadOutputSettings();
  recorder.SetOutputs(outputs.report, outputs.metrics);

  AheadSettings ahead;
  NetworkSettings network;
  // Calendars of events are read against the run's start.
  CalendarSettings calendar;
  calendar.run_start = static_cast<std::int64_t>(std::time(nullptr));
  if (!ReadAheadSettings(&ahead) || !ReadNetworkSettings(&network) ||
      !ReadCalendarSettings(&calendar)) {
    std::fputs(kUnsuccessful, stdout);
    NotesTerm();
    return -1;
  }
  const std::unique_ptr<TextSource> made = make_source(ahead, network);
  TextSource& source = *made;

  RunDatabases dbs;
  error = DbOpen("ruvconfig.nsf", &dbs.db_ftsearch);
  if (error != 0) {
    std::fputs("ERR -- Could not find Connector Configuration database on \n", stdout);
    return FailureEnd(error);
  }

  // Without the setting the server stays empty, which means this machine.
  char strHomeServer[kMaxTextBuffer] = "";
  GetEnvString("MailServer", strHomeServer, kMaxTextBuffer + 1);
  error = MakeNetPath(nullptr, strHomeServer, "busytime.nsf", path_name);
  if (error == 0) error = DbOpen(path_name, &dbs.db_handle);
  if (error != 0) {
    std::fputs("ERR -- Could not open busytime.nsf on user's home mail server\n", stdout);
    return FailureEnd(error);
  }

  MemHandle result_buffer = 0;
  std::uint32_t NumConfigDocsFound = 0;
  if (GetCalendarProfiles(dbs.db_ftsearch, &result_buffer, &NumConfigDocsFound) != 0) {
    // The list has reported its failure and ended the runtime.
    std::fputs(kUnsuccessful, stdout);
    return -1;
  }
  const auto* note_ids =
      result_buffer != 0 ? static_cast<const NoteId*>(LockObject(result_buffer)) : nullptr;
  if (note_ids == nullptr && NumConfigDocsFound > 0) {
    std::fputs("ERR -- Could not read the list of calendar profiles.\n", stdout);
    return FailureEnd(notes::kErrInvalidMemHandle);
  }
  std::printf("Found %u calendar profiles\n", static_cast<unsigned>(NumConfigDocsFound));
  recorder.ProfilesListed(CountProfiles(note_ids, NumConfigDocsFound));

  ProfileCursor profiles(dbs.db_ftsearch, note_ids, NumConfigDocsFound, ahead.concurrency > 1,
                         source);
  ProfileRead profile;
  while (profiles.Next(&profile)) {
    recorder.UserStarted();
    UserOutcome user;
    const ProfileOutcome outcome = HarvestProfile(dbs, profile, source, calendar, &error, user);
    recorder.UserEnded(std::move(user));
    if (outcome != ProfileOutcome::kNext) recorder.PrintSummary();
    std::fflush(stdout);
    if (outcome == ProfileOutcome::kStopped) {
      std::fputs(kUnsuccessful, stdout);
      return -1;
    }
    if (outcome == ProfileOutcome::kFailed) return FailureEnd(error);
  }
  recorder.PrintSummary();

  if (result_buffer != 0) {
    UnlockObject(result_buffer);
    FreeObject(result_buffer);
  }
  error = DbClose(dbs.db_handle);
  if (error != 0) {
    ReportStatus(error);
    NotesTerm();
    return 1;
  }
  NotesTerm();
  return 0;
}

}  // namespace

int RunHarvest(int argc, char** argv, const TextSourceFactory& make_source) {
  RunRecorder recorder;
  const int exit_code = Run(argc, argv, recorder, make_source);
  recorder.Finish(exit_code);
  return exit_code;
}
