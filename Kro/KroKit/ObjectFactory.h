// ObjectFactory<Object>: a factory that gives each client a server object
// of its own: an Object (constructed from the server-object POA), active
// under an unguessable id, working for the client's token, entered in the
// object table. Every step that fails undoes those before it.
//
//   new KroKit::ObjectFactory<MyRouter>(process.ServerObjectPOA())
//
// With a journal (KroJournal), each object is recorded there, with its
// user, before the client has its reference, and records its operations
// there; CORBA::NO_RESOURCES (logged) when it cannot be recorded.
//
// Object: a servant deriving from Krovane::SyncServerImpl (AsyncRouter,
// say) whose interface derives from ISyncServer, constructible from a POA.
// Ownership and threads: as ServerFactoryImpl.
#ifndef KROKIT_OBJECTFACTORY_H
#define KROKIT_OBJECTFACTORY_H

#include "KroKit/ActiveServant.h"

#include "KroJournal/Journal.h"
#include "KroJournal/JournalActivator.h"
#include "KroJournal/JournalError.h"
#include "KroServer/AsyncServerImpl.h"
#include "KroServer/ServerFactoryImpl.h"

#include <ace/Log_Msg.h>

#include <type_traits>

namespace KroKit
{
  template <typename Object>
  class ObjectFactory : public Krovane::ServerFactoryImpl
  {
  public:
    // journal: where objects and their operations are kept (not owned; null: none).
    explicit ObjectFactory(PortableServer::POA_ptr serverObjectPOA, KroJournal::Journal* journal = nullptr)
      : Krovane::ServerFactoryImpl(serverObjectPOA), m_journal(journal)
    {
    }

    Krovane::ISyncServer_ptr CreateObject(const Krovane::UserToken& token) override
    {
      ActiveServant<Object, Krovane::ISyncServer> object(m_serverObjectPOA.in(), new Object(m_serverObjectPOA.in()));
      object->SetUserToken(token);  // before the client has its reference
      if (m_journal)
        Record(*object.operator->(), object.Id());
      AddObjectToTable(object.Reference());
      object.Keep();
      return Krovane::ISyncServer::_duplicate(object.Reference());
    }

  private:
    void Record(Object& object, const PortableServer::ObjectId& id)
    {
      const std::string key = KroJournal::JournalActivator::KeyOf(id);
      try
      {
        m_journal->ObjectCreated(key, object.Krovane::SyncServerImpl::GetUserPacket().GetToken());
      }
      catch (const KroJournal::JournalError& ex)
      {
        ACE_ERROR((LM_ERROR, ACE_TEXT("(%P|%t) journal %C: a server object refused, it cannot be recorded: %C\n"),
                   m_journal->Path().c_str(), ex.what()));
        throw CORBA::NO_RESOURCES(0, CORBA::COMPLETED_NO);
      }
      if constexpr (std::is_base_of<Krovane::AsyncServerImpl, Object>::value)
        object.AttachJournal(m_journal, key);
    }

    KroJournal::Journal* const m_journal;  // not owned; null: none
  };
}

#endif
