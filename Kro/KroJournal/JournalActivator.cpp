#include "KroJournal/JournalActivator.h"

#include "KroJournal/JournalError.h"

#include "KroServer/AsynchronousRouter.h"
#include "KroServer/ServerObjectTable.h"

#include <ace/Log_Msg.h>

namespace KroJournal
{
  JournalActivator::JournalActivator(Journal& journal, Maker maker) : m_journal(journal), m_maker(std::move(maker)) {}

  PortableServer::POA_ptr JournalActivator::MakePOA(PortableServer::POA_ptr root, const char* name,
                                                    JournalActivator* activator)
  {
    CORBA::PolicyList policies;
    policies.length(6);
    policies[0] = root->create_servant_retention_policy(PortableServer::RETAIN);
    policies[1] = root->create_id_uniqueness_policy(PortableServer::UNIQUE_ID);
    policies[2] = root->create_implicit_activation_policy(PortableServer::NO_IMPLICIT_ACTIVATION);
    policies[3] = root->create_id_assignment_policy(PortableServer::USER_ID);
    policies[4] = root->create_lifespan_policy(PortableServer::PERSISTENT);
    policies[5] = root->create_request_processing_policy(PortableServer::USE_SERVANT_MANAGER);
    // A manager of its own, holding requests until the objects with waiting
    // work are back (ReviveObjectsWithWaitingWork): a client's request must
    // not incarnate an object that is being revived.
    PortableServer::POA_var poa = root->create_POA(name, PortableServer::POAManager::_nil(), policies);
    for (CORBA::ULong i = 0; i < policies.length(); ++i)
      policies[i]->destroy();
    PortableServer::ServantActivator_var reference = activator->_this();
    poa->set_servant_manager(reference.in());
    return poa._retn();
  }

  std::string JournalActivator::KeyOf(const PortableServer::ObjectId& id)
  {
    static const char kDigits[] = "0123456789abcdef";
    std::string key;
    for (CORBA::ULong i = 0; i < id.length(); ++i)
    {
      key.push_back(kDigits[id[i] >> 4]);
      key.push_back(kDigits[id[i] & 0xf]);
    }
    return key;
  }

  PortableServer::ObjectId* JournalActivator::IdOf(const std::string& key)
  {
    auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    PortableServer::ObjectId* id = new PortableServer::ObjectId(static_cast<CORBA::ULong>(key.size() / 2));
    id->length(static_cast<CORBA::ULong>(key.size() / 2));
    for (CORBA::ULong i = 0; i < id->length(); ++i)
      (*id)[i] = static_cast<CORBA::Octet>(digit(key[2 * i]) * 16 + digit(key[2 * i + 1]));
    return id;
  }

  PortableServer::ServantBase* JournalActivator::Restore(const PortableServer::ObjectId& id,
                                                         PortableServer::POA_ptr poa)
  {
    const std::string key = KeyOf(id);
    Journal::ObjectRecord object;
    std::vector<Journal::OperationRecord> operations;
    try
    {
      if (!m_journal.FindObject(key, object))
        throw CORBA::OBJECT_NOT_EXIST(0, CORBA::COMPLETED_NO);
      operations = m_journal.OperationsOf(key);
    }
    catch (const JournalError& ex)
    {
      ACE_ERROR((LM_ERROR, ACE_TEXT("(%P|%t) journal %C: object %C cannot be brought back: %C\n"),
                 m_journal.Path().c_str(), key.c_str(), ex.what()));
      throw CORBA::TRANSIENT(0, CORBA::COMPLETED_NO);
    }

    PortableServer::ServantBase_var servant = m_maker(poa);
    Krovane::SyncServerImpl* server = dynamic_cast<Krovane::SyncServerImpl*>(servant.in());
    if (!server)
      throw CORBA::OBJECT_NOT_EXIST(0, CORBA::COMPLETED_NO);
    Halvern_Utilities::UserPacket user;
    user.SetToken(object.userToken);
    server->SetUserPacket(user);
    // Not active yet: its operations are given a reference made from its id.
    CORBA::Object_var self = poa->create_reference_with_id(id, servant->_mostDerivedRepoId());
    if (Krovane::AsynchronousRouter* router = dynamic_cast<Krovane::AsynchronousRouter*>(server))
    {
      router->AttachJournal(&m_journal, key);
      Krovane::IAsyncServer_var target = Krovane::IAsyncServer::_narrow(self.in());
      int highest = object.highest;
      for (Journal::OperationRecord& operation : operations)
      {
        highest = std::max(highest, operation.id);
        if (operation.ended)
          router->RestoreEnded(target.in(), operation.id, operation.name, operation.state);
        else
          router->Requeue(target.in(), operation.id, operation.name, std::move(operation.parameters));
      }
      router->ContinueIdsAfter(highest);
    }
    Krovane::ISyncServer_var entry = Krovane::ISyncServer::_narrow(self.in());
    Krovane::ServerObjectTable::Instance(poa)->AddObject(entry.in());
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) journal %C: object %C back with %d operations\n"),
               m_journal.Path().c_str(), key.c_str(), static_cast<int>(operations.size())));
    return servant._retn();
  }

  PortableServer::Servant JournalActivator::incarnate(const PortableServer::ObjectId& id, PortableServer::POA_ptr poa)
  {
    // The POA takes the servant's one reference over.
    return Restore(id, poa);
  }

  void JournalActivator::etherealize(const PortableServer::ObjectId&, PortableServer::POA_ptr,
                                     PortableServer::Servant servant, CORBA::Boolean, CORBA::Boolean)
  {
    // With a servant activator omniORB hands the POA's reference of every
    // servant leaving this POA (incarnated or activated: server objects,
    // relays, exception holders) to etherealize instead of releasing it.
    servant->_remove_ref();
  }

  void JournalActivator::ReviveObjectsWithWaitingWork(PortableServer::POA_ptr poa)
  {
    // However the revival goes, the POA then takes its requests.
    struct ActivateOnExit
    {
      PortableServer::POAManager_var manager;
      ~ActivateOnExit()
      {
        try
        {
          manager->activate();
        }
        catch (const CORBA::Exception& ex)
        {
          ACE_ERROR((LM_ERROR, ACE_TEXT("(%P|%t) journal: the server objects' POA not activated (%C)\n"),
                     ex._name()));
        }
      }
    } activate{poa->the_POAManager()};
    std::vector<std::string> keys;
    try
    {
      keys = m_journal.ObjectsWithWaitingWork();
    }
    catch (const JournalError& ex)
    {
      ACE_ERROR((LM_ERROR, ACE_TEXT("(%P|%t) journal %C: waiting work not found: %C\n"), m_journal.Path().c_str(),
                 ex.what()));
      return;
    }
    for (const std::string& key : keys)
    {
      try
      {
        PortableServer::ObjectId_var id = IdOf(key);
        PortableServer::ServantBase_var servant = Restore(id.in(), poa);
        poa->activate_object_with_id(id.in(), servant.in());
      }
      catch (const CORBA::Exception& ex)
      {
        ACE_ERROR((LM_ERROR, ACE_TEXT("(%P|%t) journal %C: object %C not brought back (%C)\n"),
                   m_journal.Path().c_str(), key.c_str(), ex._name()));
      }
    }
  }
}
