// Operation: the application's handle on one asynchronous operation: its
// id, what its callbacks have said so far, waiting for its end with a
// deadline, and cancelling it. Made by AsyncClient (Submit, Reattach).
//
//   KroClient::Operation op = client.Submit(worker.in(), [&](Krovane::IAsyncHandler_ptr handler)
//                                           { return worker->Count(10, 100, handler); });
//   op.Wait(std::chrono::steady_clock::now() + std::chrono::seconds(30));  // throws the failure
//
// Ownership: movable, not copyable. Its handler stays active while the
// handle lives; the destructor deactivates it, and callbacks stop (it waits
// for one running in another thread). Threads: any thread may read and wait;
// the destructor must not run inside the operation's own callbacks of
// another thread.
#ifndef KROCLIENT_OPERATION_H
#define KROCLIENT_OPERATION_H

#include "KroClient/Callbacks.h"

#include <cstddef>
#include <memory>
#include <string>

namespace KroClient
{
  class OperationCore;

  class Operation
  {
  public:
    explicit Operation(std::shared_ptr<OperationCore> core);
    ~Operation();
    Operation(Operation&& other) noexcept;
    Operation& operator=(Operation&& other) noexcept;

    CORBA::Long Id() const;

    // Waits until the operation has ended, at most until deadline; Pending
    // if it has not. A failed operation's failure is thrown, as its own
    // typed exception (the holder's raise()).
    Outcome Wait(Deadline deadline) const;
    // The same, returning Failed rather than throwing.
    Outcome WaitForEnd(Deadline deadline) const;
    // Waits until at least done (0 to 1) of the work is done, or the
    // operation has ended, at most until deadline. Whether done was reached.
    bool WaitForProgress(double done, Deadline deadline) const;
    // Waits until count callbacks in all have reached the handler (whether
    // delivered yet or not), at most until deadline.
    bool WaitForCallbacks(std::size_t count, Deadline deadline) const;

    // Asks the server to cancel it (CancelOperation); it then ends
    // Cancelled. Whether it was cancelled: false when it has ended (here,
    // or just now at the server). Throws what the call throws otherwise
    // (InvalidOperationId for an id the server does not know at all).
    bool Cancel() const;

    Outcome Now() const;
    CORBA::Long Place() const;     // its latest place in line; 0 until told
    std::string Status() const;    // the latest Status text
    double Progress() const;       // the latest Progress, 0 to 1
    CORBA::Any Results() const;    // the latest Results; empty until then
    // The failure reported through Error, nil when none; a new reference.
    Krovane::IAsyncExceptionHolder_ptr Failure() const;

    // Throws the failure holder stands for (raise()); CORBA::UNKNOWN if
    // raise() returns.
    static void Raise(Krovane::IAsyncExceptionHolder_ptr holder);

  private:
    std::shared_ptr<OperationCore> m_core;  // null once moved from
  };
}

#endif
