#include "CalculatorRelay.h"

#include <ace/Log_Msg.h>

namespace KroExample
{
  CalculatorRelay::CalculatorRelay(Krovane::IAsyncHandler_ptr handler)
    : Krovane::AsynchronousHandler(handler), m_operationId(0)
  {
  }

  CalculatorRelay::~CalculatorRelay()
  {
    ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) relay of operation %d deleted\n"), m_operationId.load()));
  }

  void CalculatorRelay::SetOperationId(int id) { m_operationId.store(id); }
}
