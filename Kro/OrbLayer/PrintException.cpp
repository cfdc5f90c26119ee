#include "OrbLayer/PrintException.h"

#include <omniORB4/minorCode.h>

#include <cstring>

namespace KroOrb
{
  namespace
  {
    const char* CompletionText(CORBA::CompletionStatus status)
    {
      switch (status)
      {
        case CORBA::COMPLETED_YES: return "YES";
        case CORBA::COMPLETED_NO:  return "NO";
        default:                   return "MAYBE";
      }
    }
  }

  const char* MinorCodeName(const CORBA::SystemException& ex)
  {
    // omniORB keeps one table of names per system exception.
    const char* const name = ex._name();
#define KRO_MINOR_NAME_FROM(exception)                                   \
    if (name && std::strcmp(name, #exception) == 0)                      \
      return omni::minorCode2String(omni::exception##_LookupTable, ex.minor());
    OMNIORB_FOR_EACH_SYS_EXCEPTION(KRO_MINOR_NAME_FROM)
#undef KRO_MINOR_NAME_FROM
    return nullptr;
  }

  std::string DescribeException(const CORBA::Exception& ex)
  {
    std::string text = ex._name() ? ex._name() : "(unnamed)";
    text += " (";
    text += ex._rep_id() ? ex._rep_id() : "";
    text += ")";
    if (const CORBA::SystemException* sys = CORBA::SystemException::_downcast(&ex))
    {
      char minor[160];
      const char* const minorName = MinorCodeName(*sys);
      if (minorName)
        std::snprintf(minor, sizeof minor, ", minor %s (0x%lx), completed %s", minorName,
                      static_cast<unsigned long>(sys->minor()), CompletionText(sys->completed()));
      else
        std::snprintf(minor, sizeof minor, ", minor 0x%lx, completed %s",
                      static_cast<unsigned long>(sys->minor()), CompletionText(sys->completed()));
      text += minor;
    }
    return text;
  }

  void PrintException(const CORBA::Exception& ex, const char* info, FILE* stream)
  {
    const char* place = info ? info : "";
    const std::size_t length = std::strlen(place);
    const char* separator = (length > 0 && place[length - 1] == '\n') ? "" : ": ";
    const std::string text = std::string(place) + separator + DescribeException(ex) + "\n";
    // One write per line, so lines of concurrent threads do not interleave.
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
  }
}
