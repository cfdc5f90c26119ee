// AnyBlob: a CORBA::Any marshalled (type code and value) as bytes for the
// journal, and back. Stateless; any thread.
#ifndef KROJOURNAL_ANYBLOB_H
#define KROJOURNAL_ANYBLOB_H

#include <omniORB4/CORBA.h>

#include <string>

namespace KroJournal
{
  class AnyBlob
  {
  public:
    static std::string Encode(const CORBA::Any& data);
    // JournalError for bytes that do not unmarshal.
    static void Decode(const std::string& bytes, CORBA::Any& data);
  };
}

#endif
