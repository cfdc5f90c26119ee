// ParameterBlob: an operation's parameters as bytes for the journal and
// back. Each value: its kind (one octet), then its data (integers and
// lengths as 8 octets, little-endian; a double's bits the same way).
// Stateless; any thread.
#ifndef KROJOURNAL_PARAMETERBLOB_H
#define KROJOURNAL_PARAMETERBLOB_H

#include "Dazadared/Variant.h"

#include <string>
#include <vector>

namespace KroJournal
{
  class ParameterBlob
  {
  public:
    static std::string Encode(const std::vector<Halvern_Utilities::Variant>& parameters);
    // JournalError for bytes that Encode did not make (cut short, an unknown kind).
    static std::vector<Halvern_Utilities::Variant> Decode(const std::string& bytes);
  };
}

#endif
