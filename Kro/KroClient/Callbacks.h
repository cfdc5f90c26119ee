// Callbacks: what the application is told about one asynchronous operation,
// and how the operation ended as the client knows it.
//
// Threads: the library calls one operation's callbacks one at a time, in the
// order the server sent them, on an ORB thread, on the thread that submitted
// the operation (for callbacks that arrived before its id) or on the
// library's own background thread (the end). A callback should not call the
// operation's server: the server may be waiting for it to return.
#ifndef KROCLIENT_CALLBACKS_H
#define KROCLIENT_CALLBACKS_H

#include "Krovane.hh"

#include <chrono>
#include <functional>
#include <string>

namespace KroClient
{
  using Deadline = std::chrono::steady_clock::time_point;

  // How an operation ended; Pending while it has not (or not yet as far as
  // the client knows).
  enum class Outcome { Pending, Finished, Cancelled, Failed };

  // "Pending", "Finished", "Cancelled" or "Failed".
  const char* OutcomeName(Outcome outcome);

  // Each one is optional.
  struct Callbacks
  {
    std::function<void(CORBA::Long place)> queued;        // waits in line, at place
    std::function<void(const std::string& text)> status;  // a line of news
    std::function<void(double done)> progress;            // share of the work done, 0 to 1
    std::function<void(const CORBA::Any& data)> results;  // the operation's results
    std::function<void(Krovane::IAsyncExceptionHolder_ptr holder)> error;  // a failure; raise() throws it
    std::function<void(Outcome outcome)> ended;           // once, last: Finished, Cancelled or Failed
  };
}

#endif
