// OperationTrack: what the example client knows about one of its
// operations: the callbacks that have arrived for it, shown one line per
// event as they arrive, and what the main thread waits for (a share of the
// work done, the operation's end).
//
// Ownership: the client's session owns one per operation, for the whole
// session; its handlers (ClientHandler) refer to it and must be deactivated
// before it goes. Threads: the callbacks come on ORB threads, several at
// once; the main thread waits and reads. Everything is guarded by m_lock.
#ifndef KRO_EXAMPLES_OPERATIONTRACK_H
#define KRO_EXAMPLES_OPERATIONTRACK_H

#include "Krovane.hh"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

namespace KroExample
{
  class OperationTrack
  {
  public:
    using Deadline = std::chrono::steady_clock::time_point;

    // id: the operation's id; what and steps: its request, for the lines.
    OperationTrack(int id, const std::string& what, int steps);

    // The callbacks. via names the handler that received it ("" for the
    // first one), shown on the line.
    void OnQueued(int place, const std::string& via);
    void OnProgress(double done);
    void OnStatus(const std::string& text, const std::string& via);
    void OnResults(const CORBA::Any& data, const std::string& via);
    void OnError(Krovane::IAsyncExceptionHolder_ptr holder, const std::string& via);
    void OnFinished(const std::string& via);

    // Waits until the share done of the work is at least done, or the
    // operation has ended, at most until deadline. Whether it got there.
    bool WaitForProgress(double done, Deadline deadline);
    // Waits until the operation has ended: Finished arrived, or it was
    // cancelled while it waited (it never runs then, and no Finished comes).
    bool WaitForEnd(Deadline deadline);

    int Id() const;
    // The holder of the failure reported through Error (nil when none); a
    // new reference, which the caller releases.
    Krovane::IAsyncExceptionHolder_ptr Failure();
    // "op 3 (e x8)", the start of each of its lines.
    std::string Label() const;

  private:
    // The line for one event: label, progress bar, text, via.
    void Show(const std::string& text, const std::string& via, bool withBar);
    // Whether the operation has ended; m_lock held.
    bool Ended() const;

    const int m_id;                        // the operation's id
    const std::string m_label;             // see Label()
    mutable std::mutex m_lock;             // guards everything below
    std::condition_variable m_changed;     // notified on every callback
    double m_done;                         // the share of the work done, 0 to 1
    bool m_finished;                       // Finished arrived
    bool m_withdrawn;                      // cancelled while it waited
    Krovane::IAsyncExceptionHolder_var m_failure;  // from Error; nil when none
  };
}

#endif
