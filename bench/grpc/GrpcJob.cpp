#include "GrpcJob.h"

namespace KroBench
{
  GrpcJob::GrpcJob(int steps) : m_steps(steps) {}

  std::shared_ptr<GrpcJob> GrpcJob::Start(long id, int steps)
  {
    std::shared_ptr<GrpcJob> job(new GrpcJob(steps));
    std::unique_lock<std::mutex> guard(job->m_lock);
    job->m_self = job;
    job->m_queued.emplace_back().set_id(id);
    job->WriteNext(guard);
    return job;
  }

  void GrpcJob::ReportPlace(int place)
  {
    std::unique_lock<std::mutex> guard(m_lock);
    if (m_started)
      return;
    m_queued.emplace_back().set_queued(place);
    WriteNext(guard);
  }

  void GrpcJob::Run()
  {
    std::unique_lock<std::mutex> guard(m_lock);
    m_started = true;
    for (int step = 1; step <= m_steps; ++step)
      m_queued.emplace_back().set_progress(static_cast<double>(step) / m_steps);
    m_queued.emplace_back().set_finished(true);
    m_lastQueued = true;
    WriteNext(guard);
  }

  void GrpcJob::WriteNext(std::unique_lock<std::mutex>& guard)
  {
    if (m_inFlight || m_ending || m_queued.empty())
      return;
    m_writing = std::move(m_queued.front());
    m_queued.pop_front();
    m_inFlight = true;
    const bool last = m_lastQueued && m_queued.empty();
    m_ending = last;
    // gRPC may react on this thread; m_writing stays untouched until OnWriteDone.
    guard.unlock();
    if (last)
      StartWriteAndFinish(&m_writing, grpc::WriteOptions(), grpc::Status::OK);
    else
      StartWrite(&m_writing);
  }

  void GrpcJob::FinishCancelled(std::unique_lock<std::mutex>& guard)
  {
    if (m_ending)
      return;
    m_ending = true;
    m_queued.clear();
    guard.unlock();
    Finish(grpc::Status::CANCELLED);
  }

  void GrpcJob::OnWriteDone(bool ok)
  {
    std::unique_lock<std::mutex> guard(m_lock);
    m_inFlight = false;
    if (!ok || m_cancelled)
      FinishCancelled(guard);
    else
      WriteNext(guard);
  }

  void GrpcJob::OnCancel()
  {
    std::unique_lock<std::mutex> guard(m_lock);
    m_cancelled = true;
    // A write in flight ends in OnWriteDone, which finishes the call.
    if (!m_inFlight)
      FinishCancelled(guard);
  }

  void GrpcJob::OnDone()
  {
    std::shared_ptr<GrpcJob> self;  // outlives the guard: it may be the last reference
    std::lock_guard<std::mutex> guard(m_lock);
    m_ending = true;
    m_queued.clear();
    self = std::move(m_self);
  }
}
