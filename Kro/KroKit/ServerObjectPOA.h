// The POAs a server of the family keeps its objects in.
//
// A free function, called by main's thread while it sets the server up.
#ifndef KROKIT_SERVEROBJECTPOA_H
#define KROKIT_SERVEROBJECTPOA_H

#include <omniORB4/CORBA.h>

namespace KroKit
{
  // Creates a child POA of root named name, sharing root's manager (so it
  // takes requests as soon as the root POA does), and returns it (the
  // caller owns the reference). Its objects are activated explicitly: without
  // implicit activation a removed object cannot come back to life by
  // accident. The library looks servants up by reference and references by
  // servant (object table, Remove), which needs RETAIN and UNIQUE_ID.
  // lifespan and ids: TRANSIENT and USER_ID for server objects that live as
  // long as the process, activated under ids that cannot be guessed
  // (Krovane::UnguessableObjectIds::Activate; a SYSTEM_ID POA takes only its
  // own sequential ids); PERSISTENT and USER_ID for a factory whose well-known id must
  // outlive a restart.
  PortableServer::POA_ptr CreateServerObjectPOA(
    PortableServer::POA_ptr root, const char* name,
    PortableServer::LifespanPolicyValue lifespan = PortableServer::TRANSIENT,
    PortableServer::IdAssignmentPolicyValue ids = PortableServer::USER_ID);
}

#endif
