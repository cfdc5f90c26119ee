#include "KroServer/NoSuchObjectHolderImpl.h"

#include "KroServer/BoundedText.h"

#include <ace/Log_Msg.h>

namespace Krovane
{
  NoSuchObjectHolderImpl::NoSuchObjectHolderImpl()
  {
  }

  NoSuchObjectHolderImpl::NoSuchObjectHolderImpl(const std::string& message)
    : m_message(BoundedText::Of(message))
  {
  }

  NoSuchObjectHolderImpl::~NoSuchObjectHolderImpl()
  {
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("Deleting NoSuchObjectHolderImpl\n")));
  }

  void NoSuchObjectHolderImpl::raise()
  {
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) NoSuchObjectHolderImpl::raise(): throwing exception...\n")));
    throw Krovane::NoSuchObject(m_message.c_str());
  }
}
