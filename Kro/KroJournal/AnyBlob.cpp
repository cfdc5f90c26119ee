#include "KroJournal/AnyBlob.h"

#include "KroJournal/JournalError.h"

namespace KroJournal
{
  std::string AnyBlob::Encode(const CORBA::Any& data)
  {
    cdrMemoryStream stream;
    data >>= stream;
    return std::string(static_cast<const char*>(stream.bufPtr()), stream.bufSize());
  }

  void AnyBlob::Decode(const std::string& bytes, CORBA::Any& data)
  {
    // The stream reads a copy it owns, aligned as it was written.
    cdrMemoryStream stream;
    stream.put_octet_array(reinterpret_cast<const CORBA::Octet*>(bytes.data()),
                           static_cast<CORBA::ULong>(bytes.size()));
    stream.rewindInputPtr();
    try
    {
      data <<= stream;
    }
    catch (const CORBA::SystemException&)
    {
      throw JournalError("operation results in the journal do not read back");
    }
  }
}
