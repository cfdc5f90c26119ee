#include "ExampleSyncFactory.h"

#include "ExampleSyncObject.h"
#include "KroKit/UserTokenText.h"

#include "KroServer/UnguessableObjectIds.h"

#include <ace/Log_Msg.h>

namespace KroExample
{
  ExampleSyncFactory::ExampleSyncFactory(PortableServer::POA_ptr serverObjectPOA)
    : Krovane::ServerFactoryImpl(serverObjectPOA)
  {
  }

  Krovane::ISyncServer_ptr ExampleSyncFactory::CreateObject(const Krovane::UserToken& token)
  {
    // The POA takes its own reference on activation; ours goes when this
    // function returns, so the POA alone decides the servant's life.
    ExampleSyncObject* object = new ExampleSyncObject(m_serverObjectPOA.in());
    PortableServer::ServantBase_var ownership = object;
    object->SetUserToken(token);

    PortableServer::ObjectId_var id = Krovane::UnguessableObjectIds::Activate(m_serverObjectPOA.in(), object);
    CORBA::Object_var reference = m_serverObjectPOA->id_to_reference(id.in());
    Krovane::ISyncServer_var server = Krovane::ISyncServer::_narrow(reference.in());
    AddObjectToTable(server.in());

    ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) ExampleSyncFactory created an object for user \"%C\"\n"),
               KroKit::TokenToText(token).c_str()));
    return server._retn();
  }
}
