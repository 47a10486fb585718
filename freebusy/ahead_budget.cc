#include "freebusy/ahead_budget.h"

#include <algorithm>

bool ExpectedDownload::Admit(std::size_t body_bytes) {
  return budget->Admit(*this, kExpectedDownloadOverhead + body_bytes);
}

void AheadBudget::Charge(ExpectedDownload& download, std::uint64_t charge) {
  held_ = held_ - download.charge + charge;
  download.charge = charge;
}

bool AheadBudget::Admit(ExpectedDownload& download, std::uint64_t wanted) {
  if (wanted <= download.charge) return true;
  if (&download != awaited_ && held_ - download.charge + wanted > limit_) {
    if (!download.paused) paused_.push_back(&download);
    download.paused = true;
    return false;
  }
  Charge(download, wanted);
  return true;
}

void AheadBudget::Unpause(ExpectedDownload& download) {
  std::erase(paused_, &download);
  download.paused = false;
}

void AheadBudget::Resume(ExpectedDownload& download) {
  Unpause(download);
  curl_easy_pause(download.easy, CURLPAUSE_CONT);
}

void AheadBudget::ResumeAll() {
  // Resuming may run the body callback at once, which may pause the
  // download again: it is then listed anew.
  std::vector<ExpectedDownload*> waiting;
  waiting.swap(paused_);
  for (ExpectedDownload* download : waiting) {
    download->paused = false;
    curl_easy_pause(download->easy, CURLPAUSE_CONT);
  }
}
