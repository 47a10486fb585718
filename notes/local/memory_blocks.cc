#include "notes/local/memory_blocks.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "notes/status_codes.h"

namespace notes::local {

Status MemoryBlocks::Alloc(std::uint32_t size, MemHandle* handle) {
  if (handle == nullptr) return kErrBadArgument;
  *handle = 0;
  if (size > kMaxBlockSize) return kErrOutOfMemory;
  auto block = std::make_unique<Block>();
  block->bytes.reset(new (std::nothrow) std::uint8_t[std::max<std::uint32_t>(size, 1)]());
  if (block->bytes == nullptr) return kErrOutOfMemory;
  block->size = size;
  MemHandle added = blocks_.Add(std::move(block));
  if (added == 0) return kErrTooManyHandles;
  *handle = added;
  return 0;
}

Status MemoryBlocks::AllocCopy(std::span<const std::uint8_t> bytes, MemHandle* handle) {
  if (bytes.size() > kMaxBlockSize) return kErrOutOfMemory;
  Status status = Alloc(static_cast<std::uint32_t>(bytes.size()), handle);
  if (status != 0) return status;
  if (!bytes.empty()) std::memcpy(blocks_.Find(*handle)->bytes.get(), bytes.data(), bytes.size());
  return 0;
}

void* MemoryBlocks::Lock(MemHandle handle) {
  Block* block = blocks_.Find(handle);
  if (block == nullptr) return nullptr;
  ++block->lock_count;
  return block->bytes.get();
}

bool MemoryBlocks::Unlock(MemHandle handle) {
  Block* block = blocks_.Find(handle);
  if (block == nullptr || block->lock_count == 0) return false;
  --block->lock_count;
  return true;
}

// Freeing a locked block is allowed: the owner says it is done with it.
void MemoryBlocks::Free(MemHandle handle) { blocks_.Remove(handle); }

void MemoryBlocks::Clear() { blocks_.Clear(); }

}  // namespace notes::local
