// One busy-time document as nsfutil inspects it: every item with its exact
// bytes, its "$Name", its two entry lists decoded, and what is wrong with
// them. Shared by `busytime list`, `busytime show` and `check`.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "notes/local/local_runtime.h"
#include "notes/notes.h"
#include "tools/schedule_lists.h"
#include "tools/text_escape.h"

namespace nsfutil {

struct BusytimeDocument {
  NoteId note_id = 0;
  std::vector<notes::local::ItemInfo> items;
  std::string name;           // "$Name", empty when absent
  std::string last_mod_time;  // "LastModTime" in ISO 8601 UTC, empty when absent
  ScheduleList list;          // "EventList"
  ScheduleList list_ext;      // "EventListExt"

  bool HasLists() const { return list.present || list_ext.present; }
  // Both headers match their lengths (or the lists are absent).
  bool HeadersMatch() const { return list.problems.empty() && list_ext.problems.empty(); }
  bool Consistent() const { return HeadersMatch() && ListsAgree(list, list_ext); }
  // Every problem of the two lists, one sentence each.
  std::vector<std::string> Problems() const;
};

// Reads the document `note_id` of the open database. Throws ToolError when
// the note cannot be opened or read.
BusytimeDocument ReadBusytimeDocument(notes::local::LocalRuntime& runtime, DbHandle db,
                                      NoteId note_id);

// Every document of the open database, in NoteId order.
std::vector<NoteId> ListDocumentIds(notes::local::LocalRuntime& runtime, DbHandle db);

}  // namespace nsfutil
