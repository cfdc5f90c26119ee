#include "ExampleSyncObject.h"

#include "KroKit/UserTokenText.h"

#include <ace/Log_Msg.h>

namespace KroExample
{
  ExampleSyncObject::ExampleSyncObject(PortableServer::POA_ptr poa)
    : Krovane::SyncServerImpl(poa, 1)
  {
  }

  ExampleSyncObject::~ExampleSyncObject()
  {
    ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) ExampleSyncObject destroyed\n")));
  }

  void ExampleSyncObject::UpdateUserToken(const Krovane::UserToken& token)
  {
    Krovane::SyncServerImpl::UpdateUserToken(token);
    ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) ExampleSyncObject user token now \"%C\"\n"),
               KroKit::LoggedUser(token).c_str()));
  }

  void ExampleSyncObject::Remove()
  {
    Krovane::SyncServerImpl::Remove();  // raises OperationsStillActive while others run
    ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) ExampleSyncObject removed\n")));
  }
}
