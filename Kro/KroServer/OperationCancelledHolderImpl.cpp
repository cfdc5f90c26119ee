#include "KroServer/OperationCancelledHolderImpl.h"

#include "KroServer/BoundedText.h"

#include <ace/Log_Msg.h>

namespace Krovane
{
  OperationCancelledHolderImpl::OperationCancelledHolderImpl()
  {
  }

  OperationCancelledHolderImpl::OperationCancelledHolderImpl(const std::string& message)
    : m_message(BoundedText::Of(message))
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
