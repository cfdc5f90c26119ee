#include "KroServer/SysExceptionHolderImpl.h"

#include "KroServer/BoundedText.h"

#include <ace/Log_Msg.h>

namespace Krovane
{
  SysExceptionHolderImpl::SysExceptionHolderImpl()
  {
  }

  SysExceptionHolderImpl::SysExceptionHolderImpl(const std::string& message)
    : m_message(BoundedText::Of(message))
  {
  }

  SysExceptionHolderImpl::~SysExceptionHolderImpl()
  {
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("Deleting SysExceptionHolderImpl\n")));
  }

  void SysExceptionHolderImpl::raise()
  {
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) SysExceptionHolderImpl::raise(): throwing exception...\n")));
    throw Krovane::SysException(m_message.c_str());
  }
}
