// OperationTrack: how the example client shows one of its operations: a
// line per callback, "  op 3 (e x8)        [####------]  40%  e ~ 2.7 after 3 steps",
// with the handler that received it when it is not the first ("<- new
// handler"). Waiting and the end are the client library's (KroClient).
//
// Ownership: the session owns one per operation and keeps it for longer
// than the operation's handles, whose callbacks refer to it. Threads: the
// callbacks of its handlers come on any thread, the old and the new
// handler's possibly at once; m_lock guards what they share.
#ifndef KRO_EXAMPLES_OPERATIONTRACK_H
#define KRO_EXAMPLES_OPERATIONTRACK_H

#include "KroClient/Callbacks.h"

#include <mutex>
#include <string>

namespace KroExample
{
  class OperationTrack
  {
  public:
    // id: the operation's id; what and steps: its request, for the lines.
    OperationTrack(int id, const std::string& what, int steps);

    OperationTrack(const OperationTrack&) = delete;
    OperationTrack& operator=(const OperationTrack&) = delete;

    // Callbacks that show each event on a line; via names the handler
    // ("" for the first one).
    KroClient::Callbacks Lines(const std::string& via);

    int Id() const;
    // "op 3 (e x8)", the start of each of its lines.
    const std::string& Label() const;

  private:
    // The line for one event: label, progress bar (when withBar), text, via.
    void Show(const std::string& text, const std::string& via, bool withBar);

    const int m_id;             // the operation's id
    const std::string m_label;  // see Label()
    std::mutex m_lock;          // taken before the console's lock
    double m_done = 0;          // guarded by m_lock; the latest progress, shown with the next Status
  };
}

#endif
