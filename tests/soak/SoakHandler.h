// SoakHandler: a soak client's callback object. It counts what it receives
// and keeps what breaks a handler's sequence (a callback after Finished, a
// second Finished); a refusing handler answers every Status with
// AsyncOperationException, as a client may. Every callback wakes whoever
// waits on the client's Activity.
//
// Ownership: reference counted, activated in the client's root POA for the
// client's life. Threads: the ORB's threads deliver callbacks, the client's
// thread reads; m_lock guards the counts.
#ifndef KRO_TESTS_SOAK_SOAKHANDLER_H
#define KRO_TESTS_SOAK_SOAKHANDLER_H

#include "AsyncHandlerServant.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

namespace KroSoak
{
  // Tells a waiting client thread that some callback arrived.
  class Activity
  {
  public:
    void Notify();
    // Waits for the next callback, at most timeout.
    void WaitFor(std::chrono::milliseconds timeout);

  private:
    std::mutex m_lock;                   // guards m_callbacks
    std::condition_variable m_changed;   // notified on each callback
    unsigned long m_callbacks = 0;       // callbacks so far
  };

  class SoakHandler : public KroExample::AsyncHandlerServant
  {
  public:
    struct Seen
    {
      int callbacks = 0;             // every callback
      int finished = 0;              // Finished callbacks
      std::string afterFinished;     // the first callback after a Finished, if any
    };

    SoakHandler(Activity& activity, bool refuseStatus);

    Seen Read() const;

    void Queued(CORBA::Long position) override;
    void Status(const char* text) override;
    void Progress(CORBA::Double progress) override;
    void Results(const CORBA::Any& data) override;
    void Finished(const CORBA::Any& data) override;
    void Error(Krovane::IAsyncExceptionHolder_ptr holder) override;

  private:
    void Record(const char* kind);

    Activity& m_activity;        // the client's, outlives the handler's use
    const bool m_refuseStatus;   // Status raises AsyncOperationException
    mutable std::mutex m_lock;   // guards m_seen
    Seen m_seen;                 // what arrived so far
  };
}

#endif
