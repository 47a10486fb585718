// The harvest run: the runtime's start and end, the two databases, and the
// loop that gives every calendar profile's user a new busy-time document.
//
// A user's busy-time document is only touched once the user's free/busy text
// has been read: a failed download leaves the old document in place.
#include "app/harvest_run.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/report_status.h"
#include "directory/busytime_lookup.h"
#include "directory/calendar_profiles.h"
#include "freebusy/busytime_fill.h"
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

enum class TextProblem { kNone, kEmpty, kTooLong, kZeroByte };

int FailureEnd(Status error) {
  ReportStatus(error);
  std::fputs(kUnsuccessful, stdout);
  NotesTerm();
  return -1;
}

// Reads one text item of a profile into its 260-byte buffer. The item is read
// into a buffer one byte longer, so that a value that does not fit is noticed
// instead of being cut: a cut address could match another user's document, a
// cut URL fetches the wrong thing.
TextProblem ReadProfileText(NoteHandle config, const char* item_name, char* value) {
  char scratch[kMaxTextBuffer + 1] = "";
  const std::uint16_t length = ItemGetText(config, item_name, scratch, sizeof scratch);
  if (length == 0 || scratch[0] == '\0') return TextProblem::kEmpty;
  if (length >= kMaxTextBuffer) return TextProblem::kTooLong;
  if (std::strlen(scratch) != length) return TextProblem::kZeroByte;
  std::memcpy(value, scratch, length + 1u);
  return TextProblem::kNone;
}

void PrintTextProblem(TextProblem problem, const char* profile, const char* item_name) {
  switch (problem) {
    case TextProblem::kEmpty:
      std::printf("ERR -- Calendar profile %s has an empty %s. Profile is skipped.\n", profile,
                  item_name);
      break;
    case TextProblem::kTooLong:
      std::printf("ERR -- Calendar profile %s has a %s longer than %d characters. Profile is "
                  "skipped.\n",
                  profile, item_name, kMaxTextBuffer - 1);
      break;
    case TextProblem::kZeroByte:
      std::printf("ERR -- Calendar profile %s has a zero byte in its %s. Profile is skipped.\n",
                  profile, item_name);
      break;
    case TextProblem::kNone:
      break;
  }
}

// Reads the user's address and free/busy URL from the profile note, which is
// closed again at once. Returns false, after printing why, when the profile is
// skipped.
bool LoadProfile(DbHandle db_ftsearch, NoteId note_id, char* strUserName, char* strBusyTimeURL) {
  NoteHandle config = 0;
  const Status error = NoteOpen(db_ftsearch, note_id, 0, &config);
  if (error != 0) {
    ReportStatus(error);
    std::printf("ERR -- Could not open calendar profile 0x%08X. Profile is skipped.\n",
                static_cast<unsigned>(note_id));
    return false;
  }
  const TextProblem address = ReadProfileText(config, "UserEmailAddress", strUserName);
  const TextProblem url = ReadProfileText(config, "busytimeurl", strBusyTimeURL);
  // The note was only read: a failed close loses nothing.
  NoteClose(config);

  if (address != TextProblem::kNone) {
    char profile[16];
    std::snprintf(profile, sizeof profile, "0x%08X", static_cast<unsigned>(note_id));
    PrintTextProblem(address, profile, "UserEmailAddress");
    return false;
  }
  if (url != TextProblem::kNone) {
    const std::string profile = std::string("for ") + strUserName;
    PrintTextProblem(url, profile.c_str(), "busytimeurl");
    return false;
  }
  return true;
}

// The per-user work: read the profile, read the user's free/busy text, and
// only then replace the user's busy-time document by a new, filled one.
ProfileOutcome HarvestProfile(const RunDatabases& dbs, NoteId note_id, TextSource& source,
                              Status* error) {
  char strUserName[kMaxTextBuffer] = "";
  char strBusyTimeURL[kMaxTextBuffer] = "";
  if (!LoadProfile(dbs.db_ftsearch, note_id, strUserName, strBusyTimeURL))
    return ProfileOutcome::kNext;
  std::printf("Loading Calendar Profile for %s (%s)\n", strUserName, strBusyTimeURL);

  std::vector<BusyPeriodText> periods;
  if (ReadUserBusyTime(source, strBusyTimeURL, periods) != 1) {
    std::fputs("ERR -- Failed to read user's calendar info. User is skipped.\n\n", stdout);
    return ProfileOutcome::kNext;
  }

  NoteHandle note_handle = 0;
  const int opened = OpenBusytimeDoc(strUserName, &note_handle, dbs.db_handle, error);
  if (opened == kOpenBusytimeDocFatal) return ProfileOutcome::kStopped;
  if (opened != 1) {
    std::printf("Failed on populating %s's busy time data. User is skipped.\n", strUserName);
    return ProfileOutcome::kNext;
  }

  std::printf("Populating %s's busy time data\n\n", strUserName);
  PopulateBusyTime(note_handle, strUserName, periods);

  *error = NoteUpdate(note_handle, 0);
  if (*error != 0) {
    std::fputs("ERR -- Failed to update busytime document.\n", stdout);
    return ProfileOutcome::kFailed;
  }
  *error = NoteClose(note_handle);
  if (*error != 0) {
    std::fputs("ERR -- Failed to close busytime document.\n", stdout);
    return ProfileOutcome::kFailed;
  }
  return ProfileOutcome::kNext;
}

}  // namespace

int RunHarvest(int argc, char** argv, TextSource& source) {
  char path_name[kMaxPathBuffer] = {};

  Status error = NotesInit(argc, argv);
  if (error != 0) {
    std::fputs("\n Unable to initialize Notes.\n", stdout);
    return 1;
  }

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

  for (std::uint32_t i = 0; i < NumConfigDocsFound; ++i) {
    // Category headings of the view stand for no profile.
    if ((note_ids[i] & kNoteIdCategory) != 0) continue;
    const ProfileOutcome outcome = HarvestProfile(dbs, note_ids[i], source, &error);
    std::fflush(stdout);
    if (outcome == ProfileOutcome::kStopped) {
      std::fputs(kUnsuccessful, stdout);
      return -1;
    }
    if (outcome == ProfileOutcome::kFailed) return FailureEnd(error);
  }

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
