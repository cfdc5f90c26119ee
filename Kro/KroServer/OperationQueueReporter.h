// OperationQueueReporter: tells waiting work its place in line from a thread
// of its own, so that the queue's lock is never held across a client's call.
//
// The queue's owner posts places under its queue lock; only the latest place
// of each item is kept, so a place superseded before it was sent is never
// sent. One thread sends, so an item hears its places in the order posted.
// An item that leaves the queue is dropped (under the queue lock) and then
// awaited (outside it): once AwaitIdle returns, the reporter does not touch
// the item again unless it is posted anew, so its owner may run or free it.
// An operation that is no longer Queued when its turn comes is not told.
// Optionally paced (SetPace): the places waiting when a round starts are
// told in it, and a round starts at most once per pace, so that under a
// long queue that moves fast each item is told its latest place about once
// per pace rather than once per move.
//
// Ownership: owns its thread (started by the first post, ended by the
// destructor); never owns an item.
// Threads: Post and Drop under the queue owner's lock, which is taken before
// m_lock; AwaitIdle with no lock that a report may need.
#ifndef KROSERVER_OPERATIONQUEUEREPORTER_H
#define KROSERVER_OPERATIONQUEUEREPORTER_H

#include "KroServer/OperationQueue.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace Krovane
{
  class Dispatchable;

  class OperationQueueReporter
  {
  public:
    OperationQueueReporter();
    OperationQueueReporter(const OperationQueueReporter&) = delete;
    OperationQueueReporter& operator=(const OperationQueueReporter&) = delete;
    // Ends the thread once the report under way, if any, is made; places
    // not yet sent are dropped.
    ~OperationQueueReporter();

    // Each item's place becomes the one to tell, replacing one not yet sent.
    void Post(const std::vector<QueuePlace>& places);
    // The item has left the queue: a place not yet sent to it is dropped.
    void Drop(Dispatchable* item);
    // Returns once no place is being told to item.
    void AwaitIdle(Dispatchable* item);
    // The least time between the starts of two rounds of reports; 0 (the
    // default): none, each item is told as soon as its turn comes.
    void SetPace(std::chrono::milliseconds pace);

  private:
    // The thread's body: sends the latest places until the reporter ends.
    void Run();
    // Starts the thread unless it runs; m_lock held. Failing, it is tried
    // again at the next post (places wait meanwhile).
    void StartUnlessRunning();
    // Tells item its place unless it is an operation that has left Queued.
    static void Tell(Dispatchable* item, int place);

    std::mutex m_lock;                    // taken after the queue owner's lock
    std::condition_variable m_posted;     // a place was posted, or the reporter ends
    std::condition_variable m_told;       // m_telling changed
    std::unordered_map<Dispatchable*, int> m_latest;  // guarded by m_lock; places not yet sent
    // Guarded by m_lock; items in the order first posted since last told (an
    // item dropped meanwhile is skipped).
    std::deque<Dispatchable*> m_turns;
    Dispatchable* m_telling;              // guarded by m_lock; the item being told, or null
    bool m_ending;                        // guarded by m_lock; set by the destructor
    bool m_awaitingPosts = false;         // guarded by m_lock; Run waits for places (Post wakes it)
    std::chrono::milliseconds m_pace{0};  // guarded by m_lock; see SetPace
    std::size_t m_roundLeft = 0;          // guarded by m_lock; turns left in the round under way
    std::chrono::steady_clock::time_point m_roundStart;  // guarded by m_lock; when it started
    std::thread m_thread;                 // guarded by m_lock until joined; not joinable until the first post
  };
}

#endif
