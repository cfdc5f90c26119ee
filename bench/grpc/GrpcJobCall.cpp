#include "GrpcJobCall.h"

#include "BenchClock.h"

#include <cstdio>

namespace KroBench
{
  GrpcJobCall::GrpcJobCall(grpcbench::Jobs::Stub& stub, int steps) : m_steps(steps)
  {
    m_request.set_steps(steps);
    m_context.set_deadline(std::chrono::system_clock::now() + kJobDeadline);  // gRPC takes system_clock only
    stub.async()->Submit(&m_context, &m_request, this);
    StartRead(&m_event);
    StartCall();
  }

  bool GrpcJobCall::Await()
  {
    std::unique_lock<std::mutex> guard(m_lock);
    if (!m_doneChanged.wait_for(guard, kJobDeadline + std::chrono::seconds(5), [this]() { return m_done; }))
    {
      // gRPC's deadline did not end it: cancel, after which gRPC always calls OnDone.
      guard.unlock();
      m_context.TryCancel();
      guard.lock();
      m_doneChanged.wait(guard, [this]() { return m_done; });
    }
    return m_ok;
  }

  bool GrpcJobCall::InOrder() const
  {
    switch (m_event.event_case())
    {
    case grpcbench::JobEvent::kId:
      return m_id == 0 && m_event.id() > 0;
    case grpcbench::JobEvent::kQueued:
      return m_id != 0 && m_progress == 0 && !m_finished && m_event.queued() > 0;
    case grpcbench::JobEvent::kProgress:
      return m_id != 0 && !m_finished && m_progress < m_steps &&
             m_event.progress() == static_cast<double>(m_progress + 1) / m_steps;
    case grpcbench::JobEvent::kFinished:
      return m_id != 0 && !m_finished && m_progress == m_steps;
    default:
      return false;
    }
  }

  void GrpcJobCall::OnReadDone(bool ok)
  {
    if (!ok)
      return;  // the stream ended; OnDone follows
    m_inOrder = m_inOrder && InOrder();
    if (m_event.has_id())
      m_id = m_event.id();
    else if (m_event.has_progress())
      ++m_progress;
    else if (m_event.has_finished())
      m_finished = true;
    StartRead(&m_event);
  }

  void GrpcJobCall::OnDone(const grpc::Status& status)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_done = true;
    m_ok = status.ok() && m_inOrder && m_finished;
    if (!m_ok)
      std::fprintf(stderr, "KroBenchGrpcClient: job failed: status %d %s, in order %d, finished %d\n",
                   static_cast<int>(status.error_code()), status.error_message().c_str(), m_inOrder, m_finished);
    m_doneChanged.notify_all();
  }
}
