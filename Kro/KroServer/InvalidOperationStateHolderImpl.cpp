#include "KroServer/InvalidOperationStateHolderImpl.h"

#include "KroServer/BoundedText.h"

#include <ace/Log_Msg.h>

namespace Krovane
{
  InvalidOperationStateHolderImpl::InvalidOperationStateHolderImpl()
  {
  }

  InvalidOperationStateHolderImpl::InvalidOperationStateHolderImpl(const std::string& message)
    : m_message(BoundedText::Of(message))
  {
  }

  InvalidOperationStateHolderImpl::~InvalidOperationStateHolderImpl()
  {
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("Deleting InvalidOperationStateHolderImpl\n")));
  }

  void InvalidOperationStateHolderImpl::raise()
  {
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) InvalidOperationStateHolderImpl::raise(): throwing exception...\n")));
    throw Krovane::InvalidOperationState(m_message.c_str());
  }
}
