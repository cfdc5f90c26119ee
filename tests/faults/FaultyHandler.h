// FaultyHandler: a client's callback object that fails on purpose, for the
// fault tests. It records every callback like RecordingHandler and is told,
// per callback kind and count ("the 2nd Progress"), what to do once that
// callback has been recorded:
//   Raise   throw Krovane::AsyncOperationException (the client refuses);
//   Block   hold the call longer than the server's bound (until Release or
//           blockFor has passed);
//   Exit    end its process at once (_exit), in the middle of the call;
//   Vanish  deactivate its own object and answer OBJECT_NOT_EXIST, as a
//           client whose object has gone;
//   Hook    run a function of the test inside the call, then return.
// A fault's text form (the handler host's command line) is
// "Callback:count:action", e.g. "Status:1:exit".
//
// Ownership: reference counted, like RecordingHandler. Threads: the ORB's
// threads deliver callbacks; the test thread reads, waits and releases.
#ifndef KRO_TESTS_FAULTS_FAULTYHANDLER_H
#define KRO_TESTS_FAULTS_FAULTYHANDLER_H

#include "RecordingHandler.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace KroTest
{
  enum class Callback { Queued, Status, Progress, Results, Finished, Error };
  enum class Action { Raise, Block, Exit, Vanish, Hook };

  const char* NameOf(Callback callback);
  const char* NameOf(Action action);

  // What to do on the count-th callback of kind on (counted from 1).
  struct Fault
  {
    Callback on;
    int count;
    Action action;
    std::function<void()> hook;  // for Action::Hook

    // "Status:1:exit".
    std::string Text() const;
    // The fault of a text form; throws std::invalid_argument on a bad one.
    static Fault Parse(const std::string& text);
  };

  class FaultyHandler : public RecordingHandler
  {
  public:
    // observer (may be empty) hears each recorded callback as its event line.
    explicit FaultyHandler(std::vector<Fault> faults, std::chrono::milliseconds blockFor = std::chrono::seconds(3),
                           std::function<void(const std::string&)> observer = {});

    // Ends every Block now and makes later ones return at once.
    void Release();
    // Whether a Vanish or Exit fault has fired.
    bool Gone() const;

    void Queued(CORBA::Long position) override;
    void Status(const char* text) override;
    void Progress(CORBA::Double progress) override;
    void Results(const CORBA::Any& data) override;
    void Finished(const CORBA::Any& data) override;
    void Error(Krovane::IAsyncExceptionHolder_ptr holder) override;

  private:
    // Counts the callback, tells the observer its event, and does the
    // fault due now.
    void Inject(Callback callback, const std::string& event);

    const std::vector<Fault> m_faults;                        // what to do, and when
    const std::chrono::milliseconds m_blockFor;               // the longest Block
    const std::function<void(const std::string&)> m_observer; // hears each event
    mutable std::mutex m_faultLock;                           // guards the fields below
    std::condition_variable m_released;                       // signalled by Release
    std::map<Callback, int> m_counts;                         // callbacks so far, per kind
    bool m_releasedAll = false;                               // Release was called
    bool m_gone = false;                                      // vanished or exiting
  };
}

#endif
