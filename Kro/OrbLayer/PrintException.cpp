#include "OrbLayer/PrintException.h"

#include <omniORB4/minorCode.h>

#include <sys/time.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace KroOrb
{
  namespace
  {
    std::atomic<bool> s_stampTimes{false};  // see StampPrintedTimes

    // "15:20:01.123 " when printed lines carry the time, else nothing.
    std::string TimeOfDay()
    {
      if (!s_stampTimes.load(std::memory_order_relaxed))
        return std::string();
      timeval now;
      gettimeofday(&now, nullptr);
      struct tm local;
      localtime_r(&now.tv_sec, &local);
      char stamp[32];
      std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03ld ", local.tm_hour, local.tm_min, local.tm_sec,
                    static_cast<long>(now.tv_usec / 1000));
      return stamp;
    }

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

  void StampPrintedTimes() { s_stampTimes.store(true, std::memory_order_relaxed); }

  void PrintException(const CORBA::Exception& ex, const char* info, FILE* stream)
  {
    PrintDescribedException(DescribeException(ex), info, stream);
  }

  void PrintDescribedException(const std::string& description, const char* info, FILE* stream)
  {
    const char* place = info ? info : "";
    const std::size_t length = std::strlen(place);
    const char* separator = (length > 0 && place[length - 1] == '\n') ? "" : ": ";
    const std::string text =
      TimeOfDay() + std::string(place) + separator + description + "\n";
    // One write per line, so lines of concurrent threads do not interleave.
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
  }
}
