// The calendar profiles of a run, one after the other: the user's address
// and free/busy URL as read from each profile note, or what keeps it from
// being harvested. The cursor hides whether the profiles were read ahead
// (every one first, the usable URLs announced to the text source so that it
// may download them ahead) or are read at their turn; either way the run
// sees the same profiles in the same order, and nothing is printed before a
// profile's turn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "freebusy/text_source.h"
#include "notes/notes.h"

// Why a profile text cannot be used.
enum class TextProblem { kNone, kEmpty, kTooLong, kZeroByte };

// A calendar profile as read: the user's address and free/busy URL, or what
// keeps the profile from being harvested.
struct ProfileRead {
  NoteId note_id = 0;
  Status open_error = 0;  // the profile note could not be opened
  TextProblem address = TextProblem::kNone;
  TextProblem url = TextProblem::kNone;
  // Strings rather than the 260-byte buffers: with downloads ahead every
  // profile of the run is held at once.
  std::string strUserName;
  std::string strBusyTimeURL;

  bool Usable() const {
    return open_error == 0 && address == TextProblem::kNone && url == TextProblem::kNone;
  }
};

class ProfileCursor {
 public:
  // `note_ids` are the `entries` of the profile list, category headings
  // included; they must stay valid while the cursor is used. With
  // `read_ahead` every profile is read here and the usable URLs go to
  // `source`.
  ProfileCursor(DbHandle db_ftsearch, const NoteId* note_ids, std::uint32_t entries,
                bool read_ahead, TextSource& source);

  // The next profile, category headings of the view skipped; false after
  // the last.
  bool Next(ProfileRead* profile);

 private:
  DbHandle db_ftsearch_;
  const NoteId* note_ids_;
  std::uint32_t entries_;
  std::uint32_t index_ = 0;
  bool read_ahead_;
  std::vector<ProfileRead> ahead_;
  std::size_t next_ahead_ = 0;
};

// Prints why a profile that cannot be harvested is skipped, and returns that
// line without its line end.
std::string ReportProfileProblem(const ProfileRead& read);
