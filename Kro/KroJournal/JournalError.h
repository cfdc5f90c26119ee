// JournalError: a journal that cannot be used (unreadable, corrupt, of a
// newer format, a disk that is full); what() is one line naming the file.
#ifndef KROJOURNAL_JOURNALERROR_H
#define KROJOURNAL_JOURNALERROR_H

#include <stdexcept>
#include <string>

namespace KroJournal
{
  class JournalError : public std::runtime_error
  {
  public:
    explicit JournalError(const std::string& line) : std::runtime_error(line) {}
  };
}

#endif
