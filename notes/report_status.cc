// Writing the text of a failed status to standard error.
#include "notes/report_status.h"

#include <cstdio>

void ReportStatus(Status error) {
  char error_text[200] = "";
  LoadErrorText(nullptr, ErrorNumber(error), error_text, sizeof error_text);
  // Standard output is buffered when it is not a terminal; flush it so that a
  // combined log shows the status text after the lines that led to it.
  std::fflush(stdout);
  std::fprintf(stderr, "\n%s\n", error_text);
}
