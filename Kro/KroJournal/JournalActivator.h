// JournalActivator: brings a server object back from the journal when a
// request reaches its id and it is not active (after a restart): a new
// servant (made by the maker) with the user it had, its ended operations
// kept for GetOperationState and RegisterNewHandler, its restartable
// operations that had not ended queued again in their old order, and its ids
// going on from the highest it ever gave. An id the journal does not know
// (a removed object, a relay of the old process) gets OBJECT_NOT_EXIST.
//
// The POA: PERSISTENT, USER_ID, RETAIN, USE_SERVANT_MANAGER (MakePOA), on a
// fixed endpoint, so that the references clients hold name the same object
// after a restart.
//
// Ownership: a servant of the root POA, made and held by the process. The
// POA's reference to each servant of its POA is released in etherealize
// (omniORB leaves that to the activator). Threads: ORB threads; no state
// of its own beyond what the constructor sets.
#ifndef KROJOURNAL_JOURNALACTIVATOR_H
#define KROJOURNAL_JOURNALACTIVATOR_H

#include "KroJournal/Journal.h"

#include <omniORB4/CORBA.h>

#include <functional>
#include <string>

namespace KroJournal
{
  class JournalActivator : public virtual POA_PortableServer::ServantActivator
  {
  public:
    // A new server object's servant for poa, not active; its reference the caller's.
    using Maker = std::function<PortableServer::ServantBase*(PortableServer::POA_ptr)>;

    JournalActivator(Journal& journal, Maker maker);

    // A child POA of root named name for journalled server objects, with
    // activator as its servant manager, holding its requests until
    // ReviveObjectsWithWaitingWork has run; the caller owns the reference.
    static PortableServer::POA_ptr MakePOA(PortableServer::POA_ptr root, const char* name,
                                           JournalActivator* activator);
    // The journal's key of an object id (its octets in hex), and back.
    static std::string KeyOf(const PortableServer::ObjectId& id);
    static PortableServer::ObjectId* IdOf(const std::string& key);

    // Activates at once the objects whose work had not ended, so that it
    // runs again without waiting for their clients, then lets poa take its
    // requests. Failures are logged.
    void ReviveObjectsWithWaitingWork(PortableServer::POA_ptr poa);

    PortableServer::Servant incarnate(const PortableServer::ObjectId& id, PortableServer::POA_ptr poa) override;
    void etherealize(const PortableServer::ObjectId& id, PortableServer::POA_ptr poa,
                     PortableServer::Servant servant, CORBA::Boolean cleanupInProgress,
                     CORBA::Boolean remainingActivations) override;

  private:
    // A new servant for the object of id as the journal keeps it (its
    // reference the caller's); OBJECT_NOT_EXIST when the journal has none.
    PortableServer::ServantBase* Restore(const PortableServer::ObjectId& id, PortableServer::POA_ptr poa);

    Journal& m_journal;   // outlives the activator
    const Maker m_maker;  // makes the servants
  };
}

#endif
