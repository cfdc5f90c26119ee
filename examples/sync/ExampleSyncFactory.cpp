#include "ExampleSyncFactory.h"

#include "ExampleSyncObject.h"
#include "KroKit/UserTokenText.h"

#include "KroKit/ActiveServant.h"

#include <ace/Log_Msg.h>

namespace KroExample
{
  ExampleSyncFactory::ExampleSyncFactory(PortableServer::POA_ptr serverObjectPOA)
    : Krovane::ServerFactoryImpl(serverObjectPOA)
  {
  }

  Krovane::ISyncServer_ptr ExampleSyncFactory::CreateObject(const Krovane::UserToken& token)
  {
    // The POA alone decides the servant's life once the table has taken it;
    // a refused creation is deactivated again and leaves nothing behind.
    KroKit::ActiveServant<ExampleSyncObject, Krovane::ISyncServer> object(
      m_serverObjectPOA.in(), new ExampleSyncObject(m_serverObjectPOA.in()));
    object->SetUserToken(token);  // before the client has its reference
    AddObjectToTable(object.Reference());
    object.Keep();

    ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) ExampleSyncFactory created an object for user \"%C\"\n"),
               KroKit::LoggedUser(token).c_str()));
    return Krovane::ISyncServer::_duplicate(object.Reference());
  }
}
