// The in-memory backend behind tests/support/fake_gateway.h.
// Its parts: this file (the calls' record, the runtime, databases, settings,
// memory blocks, times and error texts), fake_gateway_views.cc and
// fake_gateway_notes.cc, sharing the item helpers of fake_gateway_items.h.
//
// Where the local runtime's behaviour is pure logic (the plan of a read pass,
// the time text) the fake calls the same code, so that the two cannot drift;
// tests/notes_gateway_contract_test.cc holds both to the same behaviour.
#include "tests/support/fake_gateway.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "notes/local/time_date.h"
#include "notes/status_codes.h"
#include "tests/support/fake_gateway_items.h"

namespace test_support {

using namespace fake_items;  // the item helpers every part of the fake uses

FakeItem TextItem(const std::string& name, const std::string& value) {
  return FakeItem{name, kTypeText, 0, std::vector<std::uint8_t>(value.begin(), value.end())};
}

std::vector<std::string> FakeGateway::CallsWithout(const std::vector<std::string>& ignored) const {
  std::vector<std::string> kept;
  for (const std::string& call : calls) {
    const std::string operation = call.substr(0, call.find('('));
    if (std::find(ignored.begin(), ignored.end(), operation) == ignored.end())
      kept.push_back(call);
  }
  return kept;
}

std::vector<std::string> FakeGateway::CallsWithoutHandles() const {
  std::vector<std::string> kept;
  for (const std::string& call : calls) {
    const std::string operation = call.substr(0, call.find('('));
    const bool memory =
        operation == "LockObject" || operation == "UnlockObject" || operation == "FreeObject";
    kept.push_back(memory ? operation : call);
  }
  return kept;
}

std::string FakeGateway::ItemText(const std::string& db_path, NoteId note_id,
                                  const std::string& item_name) const {
  const auto db = databases.find(db_path);
  if (db == databases.end()) return "";
  const auto doc = db->second.documents.find(note_id);
  if (doc == db->second.documents.end()) return "";
  const FakeItem* item = FindItem(doc->second, item_name.c_str());
  return item == nullptr ? "" : TextOf(*item);
}

Status FakeGateway::Enter(const std::string& operation, const std::string& arguments) {
  calls.push_back(arguments.empty() ? operation : operation + "(" + arguments + ")");
  if (terminated && operation != "NotesInit") violations.push_back(operation + " after NotesTerm");
  // The operations that need a started runtime, as in the local runtime.
  static const char* const kPure[] = {"NotesInit",  "NotesTerm",       "MakeNetPath",
                                      "CurrentTime", "GetIntlSettings", "TextToTime",
                                      "LoadErrorText"};
  const bool pure = std::find(std::begin(kPure), std::end(kPure), operation) != std::end(kPure);
  return running || pure ? 0 : notes::kErrNotInitialized;
}

std::string FakeGateway::DbName(DbHandle database) const {
  const auto found = open_dbs.find(database);
  return found == open_dbs.end() ? "?" : found->second;
}

std::string FakeGateway::CollectionName(CollectionHandle hCollection) const {
  const auto found = open_collections.find(hCollection);
  return found == open_collections.end() ? "?"
                                         : found->second.db_path + "/" + found->second.view_name;
}

std::string FakeGateway::NoteName(NoteHandle handle) const {
  const auto found = open_notes.find(handle);
  if (found == open_notes.end()) return "?";
  const FakeOpenNote& note = found->second;
  return note.db_path + "," + (note.note_id == 0 ? std::string("new") : Hex(note.note_id));
}

FakeOpenNote* FakeGateway::FindNote(NoteHandle handle) {
  const auto found = open_notes.find(handle);
  return found == open_notes.end() ? nullptr : &found->second;
}

MemHandle FakeGateway::NewBlock(std::vector<std::uint8_t> bytes) {
  const MemHandle handle = next_handle_++;
  blocks[handle].bytes = std::move(bytes);
  return handle;
}

Status FakeGateway::NotesInit(int argc, char** argv) {
  std::string arguments;
  for (int i = 0; i < argc; ++i) {
    if (i > 0) arguments += ',';
    arguments += argv[i];
  }
  if (const Status status = Enter("NotesInit", arguments)) return status;
  running = true;
  terminated = false;
  return 0;
}

void FakeGateway::NotesTerm() {
  Enter("NotesTerm");
  running = false;
  terminated = true;
}

Status FakeGateway::DbOpen(const char* path, DbHandle* database) {
  if (const Status status = Enter("DbOpen", path)) return status;
  if (databases.count(path) == 0) return notes::kErrDatabaseNotFound;
  *database = next_handle_++;
  open_dbs[*database] = path;
  return 0;
}

Status FakeGateway::DbClose(DbHandle database) {
  if (const Status status = Enter("DbClose", DbName(database))) return status;
  return open_dbs.erase(database) == 1 ? 0 : notes::kErrInvalidDbHandle;
}

bool FakeGateway::GetEnvString(const char* name, char* buffer, std::uint16_t limit) {
  const bool started = Enter("GetEnvString", std::string(name) + "," + std::to_string(limit)) == 0;
  // Setting names are case-insensitive.
  const auto found =
      started ? std::find_if(settings.begin(), settings.end(),
                             [&](const auto& setting) { return SameText(setting.first, name); })
              : settings.end();
  const std::string value = found == settings.end() ? "" : found->second;
  // At most limit - 1 bytes are stored, the terminator included; an absent
  // setting leaves an empty text.
  if (limit >= 2) {
    const std::size_t length = std::min<std::size_t>(value.size(), limit - 2u);
    std::memcpy(buffer, value.data(), length);
    buffer[length] = '\0';
  }
  return found != settings.end();
}

Status FakeGateway::MakeNetPath(const char* port, const char* server, const char* file,
                                char* path_out) {
  if (const Status status = Enter("MakeNetPath", std::string(port ? port : "null") + "," +
                                                     server + "," + file))
    return status;
  const std::string path =
      server[0] == '\0' ? std::string(file) : server + std::string("::") + file;
  if (path.size() >= static_cast<std::size_t>(kMaxPathBuffer)) return notes::kErrPathTooLong;
  std::memcpy(path_out, path.c_str(), path.size() + 1);
  return 0;
}

void* FakeGateway::LockObject(MemHandle handle) {
  Enter("LockObject", std::to_string(handle));
  const auto found = blocks.find(handle);
  if (found == blocks.end()) {
    violations.push_back("LockObject of unknown block " + std::to_string(handle));
    return nullptr;
  }
  ++found->second.locks;
  return found->second.bytes.data();
}

bool FakeGateway::UnlockObject(MemHandle handle) {
  Enter("UnlockObject", std::to_string(handle));
  const auto found = blocks.find(handle);
  if (found == blocks.end() || found->second.locks == 0) {
    violations.push_back("UnlockObject of a block not locked " + std::to_string(handle));
    return false;
  }
  --found->second.locks;
  return true;
}

void FakeGateway::FreeObject(MemHandle handle) {
  Enter("FreeObject", std::to_string(handle));
  const auto found = blocks.find(handle);
  if (found == blocks.end()) {
    violations.push_back("FreeObject of unknown block " + std::to_string(handle));
    return;
  }
  if (found->second.locks != 0) violations.push_back("FreeObject of a locked block");
  blocks.erase(found);
}

Status FakeGateway::AllocObject(std::uint32_t size, MemHandle* handle) {
  if (const Status status = Enter("AllocObject", std::to_string(size))) return status;
  *handle = NewBlock(std::vector<std::uint8_t>(size));
  return 0;
}

void FakeGateway::CurrentTime(TimeDate* time) {
  Enter("CurrentTime");
  *time = now;
}

void FakeGateway::GetIntlSettings(IntlSettings* intl, std::uint16_t size) {
  Enter("GetIntlSettings", std::to_string(size));
  std::memset(intl, 0, std::min<std::size_t>(size, sizeof *intl));
}

Status FakeGateway::TextToTime(const IntlSettings* settings, const TimeTextFormat* format,
                               const char** text_ptr, std::uint16_t length, TimeDate* time) {
  if (const Status status = Enter("TextToTime", std::string(*text_ptr, length))) return status;
  static constexpr std::uint8_t kFormat[4] = {4, 0, 0, 2};
  if (settings->flags != 396 || std::memcmp(format->bytes, kFormat, sizeof kFormat) != 0)
    return notes::kErrBadArgument;
  if (!notes::local::ParseGmtTimeText(std::string_view(*text_ptr, length), time))
    return notes::kErrTimeText;
  *text_ptr += length;
  return 0;
}

std::uint16_t FakeGateway::LoadErrorText(const void*, std::uint16_t error_number, char* buffer,
                                         std::uint16_t size) {
  Enter("LoadErrorText", std::to_string(error_number) + "," + std::to_string(size));
  if (size == 0) return 0;
  const int written = std::snprintf(buffer, size, "fake error %u", error_number);
  return static_cast<std::uint16_t>(std::min<int>(written, size - 1));
}

}  // namespace test_support
