#include "KroServer/DatabaseConnectionFailureHolderImpl.h"

#include "KroServer/BoundedText.h"

#include <ace/Log_Msg.h>

namespace Krovane
{
  DatabaseConnectionFailureHolderImpl::DatabaseConnectionFailureHolderImpl()
  {
  }

  DatabaseConnectionFailureHolderImpl::DatabaseConnectionFailureHolderImpl(const std::string& message)
    : m_message(BoundedText::Of(message))
  {
  }

  DatabaseConnectionFailureHolderImpl::~DatabaseConnectionFailureHolderImpl()
  {
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("Deleting DatabaseConnectionFailureHolderImpl\n")));
  }

  void DatabaseConnectionFailureHolderImpl::raise()
  {
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) DatabaseConnectionFailureHolderImpl::raise(): throwing exception...\n")));
    throw Krovane::DatabaseConnectionFailure(m_message.c_str());
  }
}
