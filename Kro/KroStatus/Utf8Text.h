// Utf8Text: text from clients (user names, operation names, statuses) made
// fit for formats that must be UTF-8, such as a Prometheus scrape, where one
// bad byte makes the scraper reject every sample.
#ifndef KROSTATUS_UTF8TEXT_H
#define KROSTATUS_UTF8TEXT_H

#include <string>

namespace KroStatus
{
  // text with each byte that does not belong to a well-formed UTF-8
  // character (overlong forms, surrogates and code points past U+10FFFF
  // included) replaced by U+FFFD.
  std::string ValidUtf8(const std::string& text);
}

#endif
