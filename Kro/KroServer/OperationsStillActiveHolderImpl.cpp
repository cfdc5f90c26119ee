#include "KroServer/OperationsStillActiveHolderImpl.h"

#include "KroServer/BoundedText.h"

#include <ace/Log_Msg.h>

namespace Krovane
{
  OperationsStillActiveHolderImpl::OperationsStillActiveHolderImpl()
  {
  }

  OperationsStillActiveHolderImpl::OperationsStillActiveHolderImpl(const std::string& message)
    : m_message(BoundedText::Of(message))
  {
  }

  OperationsStillActiveHolderImpl::~OperationsStillActiveHolderImpl()
  {
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("Deleting OperationsStillActiveHolderImpl\n")));
  }

  void OperationsStillActiveHolderImpl::raise()
  {
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) OperationsStillActiveHolderImpl::raise(): throwing exception...\n")));
    throw Krovane::OperationsStillActive(m_message.c_str());
  }
}
