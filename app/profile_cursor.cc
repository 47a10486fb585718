#include "app/profile_cursor.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "notes/report_status.h"

namespace {

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

// The line that says why a profile value cannot be used.
std::string TextProblemLine(TextProblem problem, const std::string& profile,
                            const char* item_name) {
  const std::string item = item_name;
  switch (problem) {
    case TextProblem::kEmpty:
      return "ERR -- Calendar profile " + profile + " has an empty " + item +
             ". Profile is skipped.";
    case TextProblem::kTooLong:
      return "ERR -- Calendar profile " + profile + " has a " + item + " longer than " +
             std::to_string(kMaxTextBuffer - 1) + " characters. Profile is skipped.";
    case TextProblem::kZeroByte:
      return "ERR -- Calendar profile " + profile + " has a zero byte in its " + item +
             ". Profile is skipped.";
    case TextProblem::kNone:
      break;
  }
  return "";
}

// Reads the user's address and free/busy URL from the profile note, which is
// closed again at once. Prints nothing: ReportProfileProblem does, when the
// profile's turn comes.
ProfileRead ReadProfile(DbHandle db_ftsearch, NoteId note_id) {
  ProfileRead profile;
  profile.note_id = note_id;
  NoteHandle config = 0;
  profile.open_error = NoteOpen(db_ftsearch, note_id, 0, &config);
  if (profile.open_error != 0) return profile;
  char strUserName[kMaxTextBuffer] = "";
  char strBusyTimeURL[kMaxTextBuffer] = "";
  profile.address = ReadProfileText(config, "UserEmailAddress", strUserName);
  profile.url = ReadProfileText(config, "busytimeurl", strBusyTimeURL);
  profile.strUserName = strUserName;
  profile.strBusyTimeURL = strBusyTimeURL;
  // The note was only read: a failed close loses nothing.
  NoteClose(config);
  return profile;
}

}  // namespace

std::string ReportProfileProblem(const ProfileRead& read) {
  char note_id[16];
  std::snprintf(note_id, sizeof note_id, "0x%08X", static_cast<unsigned>(read.note_id));
  std::string line;
  if (read.open_error != 0) {
    ReportStatus(read.open_error);
    line = std::string("ERR -- Could not open calendar profile ") + note_id +
              ". Profile is skipped.";
  } else if (read.address != TextProblem::kNone) {
    line = TextProblemLine(read.address, note_id, "UserEmailAddress");
  } else {
    line = TextProblemLine(read.url, "for " + read.strUserName, "busytimeurl");
  }
  std::printf("%s\n", line.c_str());
  return line;
}

ProfileCursor::ProfileCursor(DbHandle db_ftsearch, const NoteId* note_ids, std::uint32_t entries,
                             bool read_ahead, TextSource& source)
    : db_ftsearch_(db_ftsearch), note_ids_(note_ids), entries_(entries), read_ahead_(read_ahead) {
  if (!read_ahead_) return;
  std::vector<std::string> urls;
  for (std::uint32_t i = 0; i < entries_; ++i) {
    if ((note_ids_[i] & kNoteIdCategory) != 0) continue;
    ahead_.push_back(ReadProfile(db_ftsearch_, note_ids_[i]));
    if (ahead_.back().Usable()) urls.emplace_back(ahead_.back().strBusyTimeURL);
  }
  source.Expect(std::move(urls));
}

bool ProfileCursor::Next(ProfileRead* profile) {
  // Category headings of the view stand for no profile.
  while (index_ < entries_ && (note_ids_[index_] & kNoteIdCategory) != 0) ++index_;
  if (index_ >= entries_) return false;
  ++index_;
  *profile = read_ahead_ ? std::move(ahead_[next_ahead_++])
                         : ReadProfile(db_ftsearch_, note_ids_[index_ - 1]);
  return true;
}
