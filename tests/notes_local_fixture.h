// A local runtime started on a fresh temporary data directory and installed
// as the gateway's backend, for the notes_* tests. Each test gets its own
// folder: ROOT/notes.ini and the data directory ROOT/data.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "notes/backend.h"
#include "notes/local/local_runtime.h"
#include "notes/notes.h"
#include "tests/support/settings_argument.h"

namespace notes::local {

class LocalRuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "notes_test_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    data_ = root_ / "data";
    std::filesystem::create_directory(data_);
    backend_.emplace(runtime_);
  }

  void TearDown() override {
    NotesTerm();
    backend_.reset();
    std::filesystem::remove_all(root_);
  }

  void WriteFile(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
  }

  // Writes ROOT/notes.ini ("Directory=data" and `extra_lines`) and starts the
  // runtime with it.
  Status Start(const std::string& extra_lines = "") {
    WriteFile(root_ / "notes.ini", "Directory=data\n" + extra_lines);
    return StartWith(root_ / "notes.ini");
  }

  Status StartWith(const std::filesystem::path& settings_file) {
    std::string argument = test_support::SettingsArgument(settings_file);
    std::string program = "notes_tests";
    char* argv[] = {program.data(), argument.data(), nullptr};
    return NotesInit(2, argv);
  }

  // Creates and opens a database.
  DbHandle CreateAndOpen(const char* path) {
    EXPECT_EQ(runtime_.CreateDatabase(path), 0) << path;
    DbHandle db = 0;
    EXPECT_EQ(DbOpen(path, &db), 0) << path;
    return db;
  }

  // Stores a new document with the given text items; returns its NoteId.
  NoteId AddDocument(DbHandle db, const std::vector<std::pair<std::string, std::string>>& texts) {
    NoteHandle note = 0;
    EXPECT_EQ(NoteCreate(db, &note), 0);
    for (const auto& [name, text] : texts) {
      EXPECT_EQ(ItemSetText(note, name.c_str(), text.data(),
                            static_cast<std::uint16_t>(text.size()), true),
                0);
    }
    EXPECT_EQ(NoteUpdate(note, 0), 0);
    EXPECT_EQ(NoteClose(note), 0);
    std::vector<NoteId> ids;
    EXPECT_EQ(runtime_.ListDocuments(db, &ids), 0);
    return ids.empty() ? 0 : ids.back();
  }

  // Opens the collection of the view `name` of db.
  CollectionHandle OpenView(DbHandle db, const char* name) {
    NoteId view_id = 0;
    EXPECT_EQ(FindDesignNote(db, name, 8, "-G40n", &view_id, 0), 0);
    CollectionHandle hCollection = 0;
    EXPECT_EQ(
        OpenCollection(db, db, view_id, 0, 0, &hCollection, nullptr, nullptr, nullptr, nullptr),
        0);
    EXPECT_NE(hCollection, 0);
    return hCollection;
  }

  std::filesystem::path root_;
  std::filesystem::path data_;
  LocalRuntime runtime_;
  std::optional<ScopedBackend> backend_;
};

}  // namespace notes::local
