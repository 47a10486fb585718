#include "freebusy/download.h"

#include <cstdio>
#include <utility>

int Deliver(Download& download, std::string& freetimedata) {
  std::fputs(download.messages.c_str(), stdout);
  if (download.result != 1) return download.result;
  if (freetimedata.empty())
    freetimedata = std::move(download.body);
  else
    freetimedata += download.body;
  return 1;
}
