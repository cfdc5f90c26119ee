// ServerWatch: makes sure no operation waits on a server that is gone. It
// knows the pending operations of each server (object); when none of them
// has heard from its server for an interval (a quarter of the bound), it asks
// the server, once, for the state of one of them, on its own thread, with
// the interval as the call's time-out. While callbacks flow it sends
// nothing. A server that has not answered (nor called back) for the whole
// bound, its latest request failed (TRANSIENT, COMM_FAILURE, TIMEOUT,
// NO_RESPONSE), has its operations ended Failed with Unavailable
// ("server unreachable: ..."); OBJECT_NOT_EXIST ends them at once. A server
// that answers again after failing (continued after a stop, restarted on
// its endpoint with its journal) has each operation attached again
// (RegisterNewHandler with its handler), so that its callbacks reach it.
// So has each operation whose handler went to another start of its server
// (ServerIncarnation) than the one that answered last, to the watch or to
// a later submission: a server killed and started again between two
// questions fails none of them, but knows none of the handlers; such a
// server is asked a tenth of an interval after the last question, however
// busy its other operations are. A question that fails with COMM_FAILURE
// (a connection of a server since killed) is asked again at once, a few
// times at most.
// An operation the server says has ended (Finished, Cancelled) at two
// questions in a row, its end never heard meanwhile (a callback lost on a
// connection the client had closed before, say), ends as the server says.
// Servers are asked one at a time: a stopped one holds up the questions to
// the others by at most an interval.
//
// Ownership: AsyncClient's; operations are held weakly and dropped once
// ended or gone. Threads: Add from any thread; the watch's own thread does
// the rest. Lock: m_lock is taken before an operation's record lock (to
// see whether it is pending), never held during a call to a server.
#ifndef KROCLIENT_SERVERWATCH_H
#define KROCLIENT_SERVERWATCH_H

#include "Krovane.hh"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace KroClient
{
  class OperationCore;

  class ServerWatch
  {
  public:
    using Clock = std::chrono::steady_clock;

    // Starts the thread; bound above zero.
    explicit ServerWatch(std::chrono::milliseconds bound);
    // Stops, when Stop has not.
    ~ServerWatch();
    // Ends the thread (after the question it may be asking) and joins it.
    void Stop();

    ServerWatch(const ServerWatch&) = delete;
    ServerWatch& operator=(const ServerWatch&) = delete;

    // Watches operation (started: its id is known) until it ends.
    void Add(const std::shared_ptr<OperationCore>& operation);
    // How many requests the watch has made in all (state questions and
    // attachments).
    std::uint64_t Requests() const;

  private:
    // The pending operations of one server object.
    struct Watched
    {
      Krovane::IAsyncServer_var server;   // the operations' reference
      Krovane::IAsyncServer_var asking;   // the watch's own, the interval its time-out
      std::vector<std::weak_ptr<OperationCore>> operations;
      Clock::time_point answered;     // its latest answer to the watch (or when watched)
      Clock::time_point asked;        // when the watch last asked it
      bool failing = false;           // the latest question failed
      std::string failure;            // what it raised
      CORBA::Long endedThere = 0;     // the operation the latest answer said had ended; 0: none
      std::uint64_t incarnation = 0;  // the server's start that answered last (ServerIncarnation); 0: unknown
    };
    using Operations = std::vector<std::shared_ptr<OperationCore>>;

    void Serve();  // the thread's body
    // Asks watched (a copy, taken under m_lock) about operations, and ends
    // or attaches them as the answer says; returns how it went in watched.
    void Ask(Watched& watched, const Operations& operations);
    // Attaches each operation again after its server came back; false if
    // the server failed again on the way (watched.failure says how).
    bool AttachAgain(Watched& watched, const Operations& operations);
    // server's state of operation id; asked again (a few times at most) on COMM_FAILURE.
    Krovane::OperationState StateOf(Krovane::IAsyncServer_ptr server, CORBA::Long id);
    // The operations whose handler went to another start of the server
    // than watched.incarnation (none while that is unknown).
    static Operations Stale(const Watched& watched, const Operations& operations);
    // The operations of watched still pending; prunes the others (m_lock
    // held), handing them to released, to be let go outside m_lock.
    static Operations Pending(Watched& watched, Operations& released);
    // When the last callback or answer came.
    static Clock::time_point Heard(const Watched& watched, const Operations& operations);

    const std::chrono::milliseconds m_bound;     // set at construction
    const std::chrono::milliseconds m_interval;  // a quarter of it
    mutable std::mutex m_lock;                   // before an operation record's m_lock
    std::condition_variable m_changed;           // an operation came, or stop
    std::vector<Watched> m_watched;              // guarded by m_lock; one per server object
    bool m_stopping = false;                     // guarded by m_lock
    std::atomic<std::uint64_t> m_requests{0};    // requests made
    std::thread m_thread;                        // runs Serve; joined by the destructor
  };
}

#endif
