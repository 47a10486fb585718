// Memory blocks handed out by ReadEntries and AllocObject. The runtime owns
// every block until FreeObject or NotesTerm; LockObject gives its address,
// which stays valid until the block is freed. Unknown handles give a null
// pointer or false, never a crash.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "notes/local/handle_table.h"
#include "notes/notes.h"

namespace notes::local {

// Largest block AllocObject hands out; a bigger request is an out-of-memory
// status rather than a process abort.
constexpr std::uint32_t kMaxBlockSize = 256u * 1024 * 1024;

class MemoryBlocks {
 public:
  // A zero-filled block of `size` bytes (a block of 0 bytes still has an
  // address).
  Status Alloc(std::uint32_t size, MemHandle* handle);
  // A block holding a copy of `bytes`.
  Status AllocCopy(std::span<const std::uint8_t> bytes, MemHandle* handle);
  void* Lock(MemHandle handle);
  bool Unlock(MemHandle handle);
  void Free(MemHandle handle);
  void Clear();

 private:
  struct Block {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::uint32_t size = 0;
    std::uint32_t lock_count = 0;
  };
  HandleTable<MemHandle, Block> blocks_;
};

}  // namespace notes::local
