// BareWorkerPool: the baselines' thread pool (omniORB's and gRPC's): a
// fixed number of worker threads that run queued jobs in order, and one
// reporter thread that tells each job that has to wait its place in line
// once, when it is queued.
//
// Ownership: main owns it for the process's life (the threads run until the
// process ends). Threads: Submit from any thread.
#ifndef KRO_BENCH_BAREWORKERPOOL_H
#define KRO_BENCH_BAREWORKERPOOL_H

#include "PoolJob.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>

namespace KroBench
{
  class BareWorkerPool
  {
  public:
    // Starts workers worker threads and the reporter; they are detached.
    explicit BareWorkerPool(int workers);
    BareWorkerPool(const BareWorkerPool&) = delete;
    BareWorkerPool& operator=(const BareWorkerPool&) = delete;

    // Queues job; when no worker is free its place goes to the reporter.
    void Submit(std::shared_ptr<PoolJob> job);

  private:
    void Work();
    void ReportPlaces();

    std::mutex m_lock;                  // guards everything below
    std::condition_variable m_jobWaiting;    // a job was queued
    std::condition_variable m_placeWaiting;  // a place report was queued
    std::deque<std::shared_ptr<PoolJob>> m_jobs;                  // jobs not yet started
    std::deque<std::pair<std::shared_ptr<PoolJob>, int>> m_places;  // reports not yet sent
    int m_idle = 0;                     // workers waiting for a job
  };
}

#endif
