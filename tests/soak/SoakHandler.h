// SoakHandler: a soak client's callback object. It counts what it receives
// and keeps what breaks a handler's sequence (a callback after Finished, a
// second Finished); a refusing handler answers every Status with
// AsyncOperationException, as a client may. Armed with its operation, a
// handler cancels it from inside a callback (its first or last Progress,
// its Results): the server's work is then held at that very point, the
// moments where a cancel meets the end of the work. It reads the state at
// once after that cancel. Every callback wakes whoever waits on the
// client's Activity.
//
// Ownership: reference counted, activated in the client's root POA for the
// client's life. Threads: the ORB's threads deliver callbacks, the client's
// thread reads; m_lock guards the counts.
#ifndef KRO_TESTS_SOAK_SOAKHANDLER_H
#define KRO_TESTS_SOAK_SOAKHANDLER_H

#include "AsyncHandlerServant.h"

#include "Calculator.hh"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
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

  // Where a handler cancels its operation from inside a callback.
  enum class CancelPoint
  {
    None,
    FirstProgress,          // CancelOperation mid-run
    LastProgress,           // CancelOperation in the last step, after its cancellation point
    LastProgressAll,        // CancelAllOperations there
    Results                 // CancelOperation once the work has its result, before it ends
  };

  class SoakHandler : public KroExample::AsyncHandlerServant
  {
  public:
    struct Seen
    {
      int callbacks = 0;             // every callback
      int finished = 0;              // Finished callbacks
      std::string afterFinished;     // the first callback after a Finished, if any
      bool cancelled = false;        // cancelled from inside a callback (accepted or not)
      bool cancelledAll = false;     // that cancel was CancelAllOperations
      std::optional<Krovane::OperationState> stateAfterCancel;  // read right after that cancel
      std::string cancelFailure;     // a system exception of that cancel or read
      CancelPoint armed = CancelPoint::None;  // where it was armed to cancel (kept once fired)
      // Around the cancel call itself: its effect on the server lies between.
      std::optional<std::chrono::steady_clock::time_point> cancelStarted, cancelReturned;
    };

    SoakHandler(Activity& activity, bool refuseStatus);

    // From now on, cancels operation id of calculator at point.
    void Arm(Calculator::ICalculator_ptr calculator, CORBA::Long id, CancelPoint point);
    Seen Read() const;

    void Queued(CORBA::Long position) override;
    void Status(const char* text) override;
    void Progress(CORBA::Double progress) override;
    void Results(const CORBA::Any& data) override;
    void Finished(const CORBA::Any& data) override;
    void Error(Krovane::IAsyncExceptionHolder_ptr holder) override;

  private:
    void Record(const char* kind);
    // Cancels at point, once, if armed for it.
    void CancelAt(CancelPoint point);

    Activity& m_activity;        // the client's, outlives the handler's use
    const bool m_refuseStatus;   // Status raises AsyncOperationException
    mutable std::mutex m_lock;   // guards m_seen, m_calculator, m_id, m_cancelPoint
    Seen m_seen;                 // what arrived so far
    Calculator::ICalculator_var m_calculator;      // of the operation (nil until armed)
    CORBA::Long m_id = 0;                          // the operation
    CancelPoint m_cancelPoint = CancelPoint::None; // None again once fired
  };
}

#endif
