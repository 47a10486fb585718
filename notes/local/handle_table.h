// Owns the objects behind one kind of handle (databases, notes, collections,
// memory blocks) and hands out their numbers.
//
// A handle is never 0. Numbers count upwards for the life of the runtime
// object (across NotesTerm and a new NotesInit) and skip any number still in
// the table, so a stale handle finds nothing rather than someone else's
// object. Only a table of 16-bit handles will, after 65535 opens, wrap and
// reuse numbers whose objects are long gone.
#pragma once

#include <cstdint>
#include <limits>
#include <map>
#include <memory>

namespace notes::local {

template <typename Handle, typename Object>
class HandleTable {
 public:
  // Takes ownership of `object` and returns its handle, or 0 when every
  // handle is in use.
  Handle Add(std::unique_ptr<Object> object) {
    if (objects_.size() >= std::numeric_limits<Handle>::max()) return 0;
    do {
      ++last_;
    } while (last_ == 0 || objects_.contains(last_));
    objects_.emplace(last_, std::move(object));
    return last_;
  }

  // The object of `handle`, or null for an unknown or closed handle.
  Object* Find(Handle handle) const {
    auto it = objects_.find(handle);
    return it == objects_.end() ? nullptr : it->second.get();
  }

  // Releases the object; false for an unknown handle.
  bool Remove(Handle handle) { return objects_.erase(handle) > 0; }

  void Clear() { objects_.clear(); }
  std::size_t size() const { return objects_.size(); }

 private:
  std::map<Handle, std::unique_ptr<Object>> objects_;
  Handle last_ = 0;
};

}  // namespace notes::local
