// LocalRuntime: start and stop, settings, database files, time and error
// texts, and the state shared by every operation. Notes and items are in
// local_runtime_notes.cc, views and memory blocks in local_runtime_views.cc.
//
// Operations on databases, notes, views, settings and memory need NotesInit
// first (kErrNotInitialized, a null pointer or false otherwise). MakeNetPath,
// CurrentTime, GetIntlSettings, TextToTime and LoadErrorText are pure and work
// at any time, so a failed NotesInit can still be reported with its text.
#include "notes/local/local_runtime.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "notes/local/database_file.h"
#include "notes/local/db_path.h"
#include "notes/local/local_runtime_impl.h"
#include "notes/local/note_store.h"
#include "notes/local/time_date.h"
#include "notes/status_codes.h"

namespace notes {

std::unique_ptr<Backend> MakeLocalRuntime() { return std::make_unique<local::LocalRuntime>(); }

}  // namespace notes

namespace notes::local {
namespace {

constexpr std::uint16_t kTimeTextSettings = 396;
constexpr std::uint8_t kTimeTextFormat[4] = {4, 0, 0, 2};
const char kDefaultSettingsFile[] = "notes.ini";

// Copies `text` into a buffer of `size` bytes, cut and terminated; the length.
std::uint16_t CopyTerminated(std::string_view text, char* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return 0;
  std::size_t length = std::min(text.size(), size - 1);
  if (length > 0) std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
  return static_cast<std::uint16_t>(length);
}

}  // namespace

// --- shared state ---

Status LocalRuntime::Impl::Settle() const {
  OpenDatabase* db = databases.Find(pending_db);
  pending_db = 0;
  return db != nullptr ? db->CommitPending() : 0;
}

Status LocalRuntime::Impl::DatabaseForReplacement(DbHandle database, OpenDatabase** db) const {
  if (!initialized) return kErrNotInitialized;
  if (database != pending_db) {
    Status status = Settle();
    if (status != 0) return status;
  }
  *db = databases.Find(database);
  return *db == nullptr ? kErrInvalidDbHandle : 0;
}

Status LocalRuntime::Impl::Database(DbHandle database, OpenDatabase** db) const {
  if (!initialized) return kErrNotInitialized;
  Status status = Settle();
  if (status != 0) return status;
  *db = databases.Find(database);
  return *db == nullptr ? kErrInvalidDbHandle : 0;
}

Status LocalRuntime::Impl::FindNote(NoteHandle handle, OpenNote** note) const {
  if (!initialized) return kErrNotInitialized;
  *note = notes.Find(handle);
  return *note == nullptr ? kErrInvalidNoteHandle : 0;
}

Status LocalRuntime::Impl::FindNoteWithItems(NoteHandle handle, OpenNote** note) const {
  Status status = FindNote(handle, note);
  if (status != 0 || (*note)->items_loaded) return status;
  OpenDatabase* db = nullptr;
  status = Database((*note)->db, &db);
  if (status == 0) status = LoadItems(*db->statements, &(*note)->note);
  if (status != 0) {
    (*note)->note.items.clear();
    return status;
  }
  (*note)->items_loaded = true;
  return 0;
}

Status LocalRuntime::Impl::ResolvePath(const char* path, std::filesystem::path* file) const {
  if (!initialized) return kErrNotInitialized;
  Status status = Settle();
  if (status != 0) return status;
  if (path == nullptr) return kErrBadArgument;
  return ResolveDatabasePath(data_directory, path, file);
}

Status OpenDatabase::CommitPending() {
  if (!pending) return 0;
  const Status status = pending->Commit();
  if (status != 0) views.Forget();  // the transaction rolls back as it goes
  pending.reset();
  replacement = 0;
  return status;
}

void OpenDatabase::RollBackPending() {
  if (!pending) return;
  pending.reset();
  replacement = 0;
  views.Forget();
}

void LocalRuntime::Impl::AbandonReplacement(OpenDatabase& db) const {
  if (db.replacement != 0 && notes.Find(db.replacement) != nullptr) db.RollBackPending();
}

void LocalRuntime::Impl::CloseAll() {
  collections.Clear();
  notes.Clear();
  memory.Clear();
  databases.Clear();
  settings = Settings();
  data_directory.clear();
  initialized = false;
}

LocalRuntime::LocalRuntime() : impl_(std::make_unique<Impl>()) {}
LocalRuntime::~LocalRuntime() { impl_->CloseAll(); }

// --- start and stop ---

Status LocalRuntime::NotesInit(int argc, char** argv) {
  if (impl_->initialized) return kErrAlreadyInitialized;
  std::filesystem::path settings_file = kDefaultSettingsFile;
  if (argc > 1 && argv != nullptr && argv[1] != nullptr && argv[1][0] == '=') {
    settings_file = argv[1] + 1;
  }
  if (settings_file.empty()) return kErrSettingsFileMissing;
  std::error_code error;
  settings_file = std::filesystem::absolute(settings_file, error);
  if (error) return kErrSettingsFileUnreadable;

  Settings settings;
  Status status = ReadSettingsFile(settings_file, &settings);
  if (status != 0) return status;
  std::filesystem::path data_directory;
  status = ResolveDataDirectory(settings, settings_file, &data_directory);
  if (status != 0) return status;

  Impl& impl = *impl_;
  impl.view_read_pass_size =
      settings.Number("ViewReadPassSize", kDefaultViewReadPassSize, 1, kMaxViewReadPassSize);
  impl.lock_timeout_ms =
      static_cast<int>(settings.Number("LockTimeout", kDefaultLockTimeoutMs, 0, kMaxLockTimeoutMs));
  impl.settings = std::move(settings);
  impl.data_directory = std::move(data_directory);
  impl.initialized = true;
  return 0;
}

void LocalRuntime::NotesTerm() { impl_->CloseAll(); }

bool LocalRuntime::GetEnvString(const char* name, char* buffer, std::uint16_t limit) {
  // At most limit - 1 bytes are stored, the terminator included.
  const std::size_t size = limit > 0 ? limit - 1u : 0;
  const std::string* value =
      impl_->initialized && name != nullptr ? impl_->settings.Find(name) : nullptr;
  CopyTerminated(value != nullptr ? std::string_view(*value) : std::string_view(), buffer, size);
  return value != nullptr;
}

// --- databases ---

Status LocalRuntime::DbOpen(const char* path, DbHandle* database) {
  if (database == nullptr) return kErrBadArgument;
  *database = 0;
  std::filesystem::path file;
  Status status = impl_->ResolvePath(path, &file);
  if (status != 0) return status;
  auto open = std::make_unique<OpenDatabase>();
  status = OpenDatabaseFile(file, impl_->lock_timeout_ms, &open->connection);
  if (status != 0) return status;
  open->file = std::move(file);
  open->statements = std::make_unique<PreparedStatements>(open->connection.get());
  DbHandle handle = impl_->databases.Add(std::move(open));
  if (handle == 0) return kErrTooManyHandles;
  *database = handle;
  return 0;
}

Status LocalRuntime::DbClose(DbHandle database) {
  OpenDatabase* db = nullptr;
  Status status = impl_->DatabaseForReplacement(database, &db);
  if (status != 0) return status;
  impl_->AbandonReplacement(*db);
  status = db->CommitPending();
  impl_->databases.Remove(database);
  return status;
}

Status LocalRuntime::MakeNetPath(const char* port, const char* server, const char* file,
                                 char* path_out) {
  return BuildNetPath(port, server, file, path_out);
}

Status LocalRuntime::CreateDatabase(const char* path) {
  std::filesystem::path file;
  Status status = impl_->ResolvePath(path, &file);
  if (status != 0) return status;
  return CreateDatabaseFile(file, impl_->lock_timeout_ms);
}

Status LocalRuntime::CheckDatabase(const char* path, std::vector<std::string>* problems) {
  if (problems == nullptr) return kErrBadArgument;
  std::filesystem::path file;
  Status status = impl_->ResolvePath(path, &file);
  if (status != 0) return status;
  return CheckDatabaseFile(file, impl_->lock_timeout_ms, problems);
}

const std::filesystem::path& LocalRuntime::DataDirectory() const { return impl_->data_directory; }

// --- time ---

void LocalRuntime::CurrentTime(TimeDate* now) {
  if (now == nullptr) return;
  auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  *now = TimeDateFromUnixMillis(
      std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch).count());
}

// The settings carry nothing this runtime varies; the caller selects the
// time-text conventions by setting the first field.
void LocalRuntime::GetIntlSettings(IntlSettings* settings, std::uint16_t size) {
  if (settings == nullptr) return;
  std::memset(settings, 0, std::min<std::size_t>(size, sizeof(IntlSettings)));
}

Status LocalRuntime::TextToTime(const IntlSettings* settings, const TimeTextFormat* format,
                                const char** text_ptr, std::uint16_t length, TimeDate* time) {
  if (settings == nullptr || format == nullptr || text_ptr == nullptr || *text_ptr == nullptr ||
      time == nullptr) {
    return kErrBadArgument;
  }
  if (settings->flags != kTimeTextSettings ||
      std::memcmp(format->bytes, kTimeTextFormat, sizeof kTimeTextFormat) != 0) {
    return kErrBadArgument;
  }
  if (length != kGmtTimeTextLength) return kErrTimeText;
  if (!ParseGmtTimeText(std::string_view(*text_ptr, length), time)) return kErrTimeText;
  *text_ptr += length;
  return 0;
}

// --- error texts ---

std::uint16_t LocalRuntime::LoadErrorText(const void* module, std::uint16_t error_number,
                                          char* buffer, std::uint16_t size) {
  std::string_view text = module == nullptr ? StatusText(error_number) : std::string_view();
  if (module == nullptr && error_number == 0) text = "No error";
  char generic[48];
  if (text.empty()) {
    std::snprintf(generic, sizeof generic, "Unknown error number %u", unsigned{error_number});
    text = generic;
  }
  return CopyTerminated(text, buffer, size);
}

}  // namespace notes::local
