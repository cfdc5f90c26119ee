#include "KroServer/AsyncOperationExceptionHolderImpl.h"

#include "KroServer/BoundedText.h"

#include <ace/Log_Msg.h>

namespace Krovane
{
  AsyncOperationExceptionHolderImpl::AsyncOperationExceptionHolderImpl()
  {
  }

  AsyncOperationExceptionHolderImpl::AsyncOperationExceptionHolderImpl(const std::string& message)
    : m_message(BoundedText::Of(message))
  {
  }

  AsyncOperationExceptionHolderImpl::~AsyncOperationExceptionHolderImpl()
  {
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("Deleting AsyncOperationExceptionHolderImpl\n")));
  }

  void AsyncOperationExceptionHolderImpl::raise()
  {
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) AsyncOperationExceptionHolderImpl::raise(): throwing exception...\n")));
    throw Krovane::AsyncOperationException(m_message.c_str());
  }
}
