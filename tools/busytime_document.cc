#include "tools/busytime_document.h"

#include "tools/tool_error.h"
#include "tools/tool_session.h"

namespace nsfutil {
namespace {

const notes::local::ItemInfo* FindItem(const std::vector<notes::local::ItemInfo>& items,
                                       std::string_view name) {
  for (const notes::local::ItemInfo& item : items) {
    if (item.name == name) return &item;
  }
  return nullptr;
}

}  // namespace

std::vector<std::string> BusytimeDocument::Problems() const {
  std::vector<std::string> problems = list.problems;
  problems.insert(problems.end(), list_ext.problems.begin(), list_ext.problems.end());
  const std::string disagreement = ListDisagreement(list, list_ext);
  if (!disagreement.empty()) problems.push_back("the lists disagree: " + disagreement);
  return problems;
}

BusytimeDocument ReadBusytimeDocument(notes::local::LocalRuntime& runtime, DbHandle db,
                                      NoteId note_id) {
  BusytimeDocument document;
  document.note_id = note_id;
  {
    ScopedNote note(db, note_id);
    ThrowIfFailed(runtime.ReadItems(note.Handle(), &document.items),
                  "cannot read the items of note " + FormatNoteId(note_id));
  }
  if (const auto* name = FindItem(document.items, "$Name")) {
    document.name.assign(name->value.begin(), name->value.end());
    // A text stored with its terminator still names the same user.
    while (!document.name.empty() && document.name.back() == '\0')
      document.name.pop_back();
  }
  if (const auto* modified = FindItem(document.items, "LastModTime")) {
    document.last_mod_time = FormatTimeValue(modified->value);
  }
  document.list = DecodeScheduleList(document.items, "EventList", kSchedEntrySize);
  document.list_ext = DecodeScheduleList(document.items, "EventListExt", kSchedEntryExtSize);
  return document;
}

std::vector<NoteId> ListDocumentIds(notes::local::LocalRuntime& runtime, DbHandle db) {
  std::vector<NoteId> note_ids;
  ThrowIfFailed(runtime.ListDocuments(db, &note_ids), "cannot list the documents");
  return note_ids;
}

}  // namespace nsfutil
