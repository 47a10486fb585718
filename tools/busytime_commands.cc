// busytime list | show (week: busytime_week.cc): what the harvest wrote into
// the home mail server's busy-time database, item by item and entry by entry.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "base/ascii.h"
#include "tools/busytime_document.h"
#include "tools/commands.h"
#include "tools/json_writer.h"
#include "tools/profile_input.h"
#include "tools/tool_error.h"
#include "tools/tool_session.h"

namespace nsfutil {
namespace {

std::string EntryCount(const ScheduleList& list) {
  return list.present ? std::to_string(list.header_count) : "-";
}

}  // namespace

int ListBusytime(const CommandLine& line) {
  ToolSession session(line.ini_path);
  ScopedDb database(session.BusytimeDatabasePath());
  for (NoteId note_id : ListDocumentIds(session.Runtime(), database.Handle())) {
    const BusytimeDocument document =
        ReadBusytimeDocument(session.Runtime(), database.Handle(), note_id);
    std::printf("%s\t%s\t%s\t%s\t%s\n", FormatNoteId(note_id).c_str(),
                document.name.empty() ? "-" : EscapeUntrusted(document.name).c_str(),
                EntryCount(document.list).c_str(), EntryCount(document.list_ext).c_str(),
                document.last_mod_time.empty() ? "-" : document.last_mod_time.c_str());
  }
  return kExitOk;
}

namespace {

// A short rendering of an item's value where one helps: texts and times.
std::string ValueHint(const notes::local::ItemInfo& item) {
  if (item.type_code == kTypeText)
    return JsonQuote(std::string(item.value.begin(), item.value.end()));
  if (item.type_code == kTypeTime) return FormatTimeValue(item.value);
  return {};
}

void PrintList(const ScheduleList& list) {
  if (!list.present) {
    std::printf("  %s: absent\n", list.item_name);
    return;
  }
  std::printf("  %s: header count %u, %zu bytes, %zu entries:\n", list.item_name, list.header_count,
              list.length, list.entries.size());
  for (std::size_t i = 0; i < list.entries.size(); ++i) {
    std::printf("    %4zu  %s  %s\n", i, FormatTime(list.entries[i].start).c_str(),
                FormatTime(list.entries[i].end).c_str());
  }
}

void PrintDocument(const BusytimeDocument& document) {
  std::printf("Document %s  $Name %s\n", FormatNoteId(document.note_id).c_str(),
              JsonQuote(document.name).c_str());
  std::printf("  Items (name, type, flags, length):\n");
  for (const notes::local::ItemInfo& item : document.items) {
    const std::string hint = ValueHint(item);
    std::printf("    %-22s 0x%04X  0x%04X  %7zu%s%s\n", EscapeUntrusted(item.name).c_str(),
                item.type_code, item.flags, item.value.size(), hint.empty() ? "" : "  ",
                hint.c_str());
  }
  PrintList(document.list);
  PrintList(document.list_ext);
  const char* yes_no[] = {"no", "yes"};
  std::printf(
      "  Check: lists agree entry by entry: %s; EventList header matches its length: %s; "
      "EventListExt header matches its length: %s\n",
      yes_no[ListsAgree(document.list, document.list_ext)], yes_no[document.list.problems.empty()],
      yes_no[document.list_ext.problems.empty()]);
  for (const std::string& problem : document.Problems()) {
    std::printf("  Problem: %s\n", problem.c_str());
  }
}

void WriteEvents(JsonWriter& json, const ScheduleList& list) {
  json.BeginArray();
  for (const ScheduleInterval& interval : list.entries) {
    json.BeginInlineObject();
    json.StringField("start", FormatTime(interval.start));
    json.StringField("end", FormatTime(interval.end));
    json.EndObject();
  }
  json.EndArray();
}

void WriteDocumentJson(JsonWriter& json, const BusytimeDocument& document) {
  json.BeginObject();
  json.NumberField("noteid", document.note_id);
  json.StringField("name", document.name);
  json.Key("items");
  json.BeginArray();
  for (const notes::local::ItemInfo& item : document.items) {
    json.BeginInlineObject();
    json.StringField("name", item.name);
    json.NumberField("type", item.type_code);
    json.NumberField("flags", item.flags);
    json.NumberField("length", item.value.size());
    json.EndObject();
  }
  json.EndArray();
  json.Key("events");
  WriteEvents(json, document.list);
  json.Key("events_ext");
  WriteEvents(json, document.list_ext);
  json.Key("consistent");
  json.Bool(document.Consistent());
  json.Key("problems");
  json.BeginArray();
  for (const std::string& problem : document.Problems()) json.String(problem);
  json.EndArray();
  json.EndObject();
}

}  // namespace

int ShowBusytime(const CommandLine& line) {
  const bool one_user = line.words.size() > 2;
  ToolSession session(line.ini_path);
  ScopedDb database(session.BusytimeDatabasePath());

  std::vector<BusytimeDocument> documents;
  for (NoteId note_id : ListDocumentIds(session.Runtime(), database.Handle())) {
    BusytimeDocument document = ReadBusytimeDocument(session.Runtime(), database.Handle(), note_id);
    if (!one_user || SameAddress(document.name, line.words[2])) {
      documents.push_back(std::move(document));
    }
  }
  if (one_user && documents.empty()) {
    throw ToolError("no busy-time document for " + EscapeUntrusted(line.words[2]));
  }

  if (line.json) {
    JsonWriter json(std::cout);
    json.BeginArray();
    for (const BusytimeDocument& document : documents) WriteDocumentJson(json, document);
    json.EndArray();
    std::cout.flush();
  } else {
    for (std::size_t i = 0; i < documents.size(); ++i) {
      if (i > 0) std::printf("\n");
      PrintDocument(documents[i]);
    }
  }
  return kExitOk;
}

}  // namespace nsfutil
