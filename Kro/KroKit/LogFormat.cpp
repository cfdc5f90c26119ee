#include "KroKit/LogFormat.h"

#include "OrbLayer/PrintException.h"

#include <ace/Log_Msg.h>
#include <ace/Log_Msg_Backend.h>
#include <ace/Log_Record.h>

#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

namespace KroKit
{
  namespace
  {
    // Writes each record to standard error after the local time of day.
    class TimeStampedStderr : public ACE_Log_Msg_Backend
    {
    public:
      int open(const ACE_TCHAR*) override { return 0; }
      int reset() override { return 0; }
      int close() override { return 0; }

      ssize_t log(ACE_Log_Record& record) override
      {
        const ACE_Time_Value stamp = record.time_stamp();
        const time_t seconds = stamp.sec();
        struct tm local;
        localtime_r(&seconds, &local);
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "%02d:%02d:%02d.%03ld ", local.tm_hour, local.tm_min, local.tm_sec,
                      static_cast<long>(stamp.usec() / 1000));
        // One write per line, so that it does not mix with other writes to stderr.
        std::string line = prefix;
        line += ACE_TEXT_ALWAYS_CHAR(record.msg_data());
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
        return static_cast<ssize_t>(line.size());
      }
    };
  }

  void LogFormat::StampTimes()
  {
    const char* setting = std::getenv("KRO_LOG_TIMES");
    if (setting && std::strcmp(setting, "0") == 0)
      return;
    static std::once_flag installed;
    std::call_once(installed, []()
    {
      // Never destroyed: ACE may log until the process's very end.
      static TimeStampedStderr* const backend = new TimeStampedStderr;
      ACE_Log_Msg::msg_backend(backend);
      ACE_LOG_MSG->set_flags(ACE_Log_Msg::CUSTOM);
      ACE_LOG_MSG->clr_flags(ACE_Log_Msg::STDERR);
      KroOrb::StampPrintedTimes();  // handled exceptions, printed on standard output
    });
  }
}
