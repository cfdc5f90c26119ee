#include "KroServer/AsyncExceptionHolderImpl.h"

namespace Krovane
{
  AsyncExceptionHolderImpl::AsyncExceptionHolderImpl()
  {
  }

  AsyncExceptionHolderImpl::AsyncExceptionHolderImpl(const std::string& message)
    : m_message(message.c_str())
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
