#include "KroServer/OperationCancelledHolderImpl.h"

#include <ace/Log_Msg.h>

namespace Krovane
{
  OperationCancelledHolderImpl::OperationCancelledHolderImpl()
  {
  }

  OperationCancelledHolderImpl::OperationCancelledHolderImpl(const std::string& message)
    : m_message(message.c_str())
  {
  }

  OperationCancelledHolderImpl::~OperationCancelledHolderImpl()
  {
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("Deleting OperationCancelledHolderImpl\n")));
  }

  void OperationCancelledHolderImpl::raise()
  {
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) OperationCancelledHolderImpl::raise(): throwing exception...\n")));
    throw Krovane::OperationCancelled(m_message.c_str());
  }
}
