#include "ClientLines.h"

#include "OrbLayer/PrintException.h"

#include <cmath>
#include <cstdio>

namespace KroTiers
{
  void Say(const std::string& line)
  {
    std::printf("client: %s\n", line.c_str());
    std::fflush(stdout);  // the callbacks come on other threads than main's lines
  }

  KroClient::Callbacks ClientLines::Callbacks()
  {
    KroClient::Callbacks lines;
    lines.queued = [](CORBA::Long place) { Say("Queued, place " + std::to_string(place)); };
    lines.status = [](const std::string& text) { Say("Status \"" + text + "\""); };
    lines.progress = [](double done) { Say("Progress " + std::to_string(std::lround(done * 100)) + "%"); };
    lines.results = [](const CORBA::Any& data) {
      const char* text = nullptr;
      Say((data >>= text) ? std::string("Results \"") + text + "\"" : std::string("Results of another type"));
    };
    lines.error = [this](Krovane::IAsyncExceptionHolder_ptr holder) {
      try
      {
        holder->raise();
        Say("Error holder raised nothing");
      }
      catch (const Krovane::SysException& ex)
      {
        Say(std::string("Error SysException \"") + ex.reason.in() + "\"");
      }
      catch (const Krovane::Unavailable& ex)
      {
        m_lost.store(true);
        Say(std::string("Error Unavailable \"") + ex.reason.in() + "\"");
      }
      catch (const CORBA::Exception& ex)
      {
        Say("Error " + KroOrb::DescribeException(ex));
      }
    };
    lines.ended = [this](KroClient::Outcome outcome) {
      // The library counts an end after the server's own Error as Failed; the server did end it.
      const bool ours = outcome == KroClient::Outcome::Failed && !m_lost.load();
      Say(ours ? "Finished" : KroClient::OutcomeName(outcome));
    };
    return lines;
  }
}
