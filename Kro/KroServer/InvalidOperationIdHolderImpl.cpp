#include "KroServer/InvalidOperationIdHolderImpl.h"

#include "KroServer/BoundedText.h"

#include <ace/Log_Msg.h>

namespace Krovane
{
  InvalidOperationIdHolderImpl::InvalidOperationIdHolderImpl()
  {
  }

  InvalidOperationIdHolderImpl::InvalidOperationIdHolderImpl(const std::string& message)
    : m_message(BoundedText::Of(message))
  {
  }

  InvalidOperationIdHolderImpl::~InvalidOperationIdHolderImpl()
  {
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("Deleting InvalidOperationIdHolderImpl\n")));
  }

  void InvalidOperationIdHolderImpl::raise()
  {
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) InvalidOperationIdHolderImpl::raise(): throwing exception...\n")));
    throw Krovane::InvalidOperationId(m_message.c_str());
  }
}
