#include "KroServer/UnavailableHolderImpl.h"

#include "KroServer/BoundedText.h"

#include <ace/Log_Msg.h>

namespace Krovane
{
  UnavailableHolderImpl::UnavailableHolderImpl()
  {
  }

  UnavailableHolderImpl::UnavailableHolderImpl(const std::string& message)
    : m_message(BoundedText::Of(message))
  {
  }

  UnavailableHolderImpl::~UnavailableHolderImpl()
  {
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("Deleting UnavailableHolderImpl\n")));
  }

  void UnavailableHolderImpl::raise()
  {
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) UnavailableHolderImpl::raise(): throwing exception...\n")));
    throw Krovane::Unavailable(m_message.c_str());
  }
}
