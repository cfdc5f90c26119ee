// ClientLines: the client's callbacks for the client library: each prints
// one line on standard output ("client: Progress 50%", ...); an Error's
// holder is raised to print what it carries. The end prints "Finished" when
// the server ended the operation (also after an Error of its own),
// "Cancelled", or "Failed" when the client library ended it because the
// server is gone or stopping (an Unavailable error).
//
// Ownership: outlives the operation whose callbacks it made. Threads: the
// library calls the callbacks one at a time, on its threads; Lost from any.
#ifndef KRO_EXAMPLES_TIERS_CLIENTLINES_H
#define KRO_EXAMPLES_TIERS_CLIENTLINES_H

#include "KroClient/Callbacks.h"

#include <atomic>
#include <string>

namespace KroTiers
{
  // One line on standard output, at once, after "client: ".
  void Say(const std::string& line);

  class ClientLines
  {
  public:
    // Callbacks that Say each one.
    KroClient::Callbacks Callbacks();
    // Whether the operation ended because its server is gone or stopping.
    bool Lost() const { return m_lost.load(); }

  private:
    std::atomic<bool> m_lost{false};  // an Unavailable error came
  };
}

#endif
