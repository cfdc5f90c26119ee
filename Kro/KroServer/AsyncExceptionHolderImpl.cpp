#include "KroServer/AsyncExceptionHolderImpl.h"

#include "KroServer/BoundedText.h"

namespace Krovane
{
  AsyncExceptionHolderImpl::AsyncExceptionHolderImpl()
  {
  }

  AsyncExceptionHolderImpl::AsyncExceptionHolderImpl(const std::string& message)
    : m_message(BoundedText::Of(message))
  {
  }

  AsyncExceptionHolderImpl::~AsyncExceptionHolderImpl()
  {
  }

  void AsyncExceptionHolderImpl::raise()
  {
    throw Krovane::AsyncOperationException(m_message.c_str());
  }
}
