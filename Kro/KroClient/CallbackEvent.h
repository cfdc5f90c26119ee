// CallbackEvent: one callback of an operation's handler, kept between its
// arrival and its delivery to the application; or the library's own end of
// the operation (Ended), once confirmed with the server.
#ifndef KROCLIENT_CALLBACKEVENT_H
#define KROCLIENT_CALLBACKEVENT_H

#include "KroClient/Callbacks.h"
#include "OrbLayer/CallbackNumbers.h"

#include <string>

namespace KroClient
{
  struct CallbackEvent
  {
    enum class Kind { Queued, Status, Progress, Results, Error, Finished, Ended };

    explicit CallbackEvent(Kind kind) : kind(kind) {}

    Kind kind;
    CORBA::Long place = 0;                      // Queued
    std::string text;                           // Status
    double progress = 0;                        // Progress
    CORBA::Any data;                            // Results, Finished
    Krovane::IAsyncExceptionHolder_var holder;  // Error
    bool kept = false;                          // Error: holder is the client's own copy (FailureCopy)
    Outcome outcome = Outcome::Pending;         // Ended
    KroOrb::CallbackNumber number;              // its place in the server's order; 0: unnumbered
  };
}

#endif
