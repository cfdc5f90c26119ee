// UnguessableObjectIds: object ids that cannot be guessed, and activation
// under them. An object's reference is then a capability: only a client
// that was handed it can reach the object, and no client can work out a
// neighbour's reference from its own (with sequential ids, another
// client's objects are its own key minus 1, 2, 3).
//
// An id is kIdOctets octets from the kernel's secure source (getrandom(2);
// /dev/urandom where that call is missing), never from a seeded generator;
// each thread reads them a batch at a time (one system call per 16 ids), and
// a forked process reads its own.
//
// The POA must take ids from its user (USER_ID). A SYSTEM_ID POA refuses a
// foreign id (omniORB 4.2: CORBA::BAD_PARAM from activate_object_with_id);
// Activate then falls back to activate_object, so the object still comes to
// life, but under the ORB's own sequential 4-octet id, which CAN be guessed.
// This is logged once per POA name ("... SYSTEM_ID ... can be guessed").
//
// Stateless apart from that record of POA names and each thread's batch of
// octets; any thread.
#ifndef KROSERVER_UNGUESSABLEOBJECTIDS_H
#define KROSERVER_UNGUESSABLEOBJECTIDS_H

#include <omniORB4/CORBA.h>

namespace Krovane
{
  class UnguessableObjectIds
  {
  public:
    // 128 random bits.
    static constexpr CORBA::ULong kIdOctets = 16;

    // A new id of kIdOctets random octets; the caller owns it. Throws
    // CORBA::NO_RESOURCES when the system's source cannot be read (there is
    // no weaker fallback).
    static PortableServer::ObjectId* NewId();

    // Activates servant in poa under a new id (see above for a SYSTEM_ID
    // POA) and returns the id it got; the caller owns it. The POA takes its
    // own reference to servant. Throws what activation throws
    // (ServantAlreadyActive, WrongPolicy for a NON_RETAIN POA).
    static PortableServer::ObjectId* Activate(PortableServer::POA_ptr poa, PortableServer::Servant servant);
  };
}

#endif
