#include "BareJobsServant.h"

#include "BareJob.h"

#include <memory>

namespace KroBench
{
  BareJobsServant::BareJobsServant(BareWorkerPool& pool) : m_pool(pool) {}

  CORBA::Long BareJobsServant::SubmitTwoWay(CORBA::Long steps, BareBench::TwoWayHandler_ptr handler)
  {
    m_pool.Submit(std::make_shared<BareJob>(steps, handler, BareBench::OnewayHandler::_nil()));
    return ++m_lastId;
  }

  CORBA::Long BareJobsServant::SubmitOneway(CORBA::Long steps, BareBench::OnewayHandler_ptr handler)
  {
    m_pool.Submit(std::make_shared<BareJob>(steps, BareBench::TwoWayHandler::_nil(), handler));
    return ++m_lastId;
  }

  void BareJobsServant::Ping() {}
}
