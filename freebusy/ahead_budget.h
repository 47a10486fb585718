// The bytes the fetch-ahead client may hold at once (HarvestAheadBytes). What
// every expected download holds counts against it: the body finished or
// still arriving, and a fixed overhead. A body that would pass the budget
// pauses its transfer, in turn behind those paused before it, until the run
// has taken enough texts; only the download the run waits for never waits
// for the budget. Internal to freebusy/.
#pragma once

#include <cstdint>
#include <vector>

#include "freebusy/expected_download.h"

class AheadBudget {
 public:
  explicit AheadBudget(std::uint64_t limit) : limit_(limit) {}
  AheadBudget(const AheadBudget&) = delete;
  AheadBudget& operator=(const AheadBudget&) = delete;

  std::uint64_t Held() const { return held_; }
  bool HasRoomFor(std::uint64_t bytes) const { return held_ + bytes <= limit_; }

  // Counts `charge` bytes for `download` instead of what it held before.
  void Charge(ExpectedDownload& download, std::uint64_t charge);

  // True, and charged, when `download` may hold `wanted` bytes; otherwise
  // the download is listed as paused and its transfer must pause.
  bool Admit(ExpectedDownload& download, std::uint64_t wanted);

  // The download the run waits for, exempt from the limit; null for none.
  void SetAwaited(const ExpectedDownload* download) { awaited_ = download; }

  // Takes `download` off the paused list: its transfer was taken out.
  void Unpause(ExpectedDownload& download);
  // Lets `download`'s paused transfer go on.
  void Resume(ExpectedDownload& download);
  // Lets every paused transfer go on, in the order they paused; those still
  // over the budget pause again at their next bytes.
  void ResumeAll();

 private:
  std::uint64_t limit_;
  std::uint64_t held_ = 0;                // the sum of the downloads' charges
  std::vector<ExpectedDownload*> paused_;  // in the order they paused
  const ExpectedDownload* awaited_ = nullptr;
};
