// RecordingHandler: a client's callback object for the tests: it records
// every callback it receives, in order, as a line ("Queued 2",
// "Progress 0.5", "Status <text>", "Results", "Error", "Finished"; the Sync
// forms alike), keeps the holder of an Error, and lets the test wait for
// what it expects, each time with a deadline.
//
// Ownership: reference counted; the test activates it in the test
// process's root POA (Activate) and keeps its own reference for as long as
// it reads it. Threads: the ORB's threads deliver callbacks, possibly
// several at once; the test thread reads and waits. m_lock guards all.
#ifndef KRO_TESTS_ASYNC_RECORDINGHANDLER_H
#define KRO_TESTS_ASYNC_RECORDINGHANDLER_H

#include "AsyncHandlerServant.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace KroTest
{
  class RecordingHandler : public KroExample::AsyncHandlerServant
  {
  public:
    RecordingHandler();

    // Activates the handler in the test process's root POA and returns its
    // reference; the POA takes its own hold on the servant.
    Krovane::IAsyncHandler_ptr Activate();

    // Every callback so far, in order.
    std::vector<std::string> Events() const;
    // How many events begin with prefix ("Progress", say).
    int Count(const std::string& prefix) const;
    // The places told through Queued, in order.
    std::vector<int> Places() const;
    // The holder of the last Error (nil when none); a new reference.
    Krovane::IAsyncExceptionHolder_ptr Holder() const;
    // Waits until Count(prefix) >= times, at most timeout.
    bool WaitFor(const std::string& prefix, std::chrono::milliseconds timeout, int times = 1) const;

    // IAsyncHandler (the Sync forms come here through AsyncHandlerServant)
    void Queued(CORBA::Long position) override;
    void Status(const char* text) override;
    void Progress(CORBA::Double progress) override;
    void Results(const CORBA::Any& data) override;
    void Finished(const CORBA::Any& data) override;
    void Error(Krovane::IAsyncExceptionHolder_ptr holder) override;

  private:
    // Records event; m_lock not held.
    void Record(const std::string& event);
    // Count(prefix); m_lock held.
    int CountLocked(const std::string& prefix) const;

    mutable std::mutex m_lock;                       // guards the fields below
    mutable std::condition_variable m_recorded;      // notified on each event
    std::vector<std::string> m_events;               // every callback, in order
    std::vector<int> m_places;                       // the Queued places, in order
    Krovane::IAsyncExceptionHolder_var m_holder;     // from the last Error
  };
}

#endif
