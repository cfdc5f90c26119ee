// UserLimits: the process's bounds per user (UserVerifier::UserOf names
// the user): live server objects in the object table, asynchronous
// operations waiting in the pool's queue, and the size of a user token.
// 0 means no bound, the default of the first two (the kit sets its own).
//
// A factory's AddObjectToTable beyond the object bound raises
// CORBA::NO_RESOURCES; a submission beyond the queue bound raises
// CORBA::IMP_LIMIT; a longer token CORBA::NO_PERMISSION, as any token refused (4096 octets unless
// set); each is logged with the bound. The table keeps a count of objects
// per user; the queue bound is checked by a walk over the user's objects
// in the table (bench/UserLimitsBench), so only while it is set.
//
// Threads: set at start-up or at any time later, from any thread.
#ifndef KROSERVER_USERLIMITS_H
#define KROSERVER_USERLIMITS_H

namespace Krovane
{
  class UserLimits
  {
  public:
    // Live server objects one user may have; 0: no bound.
    static void SetMaxObjectsPerUser(int count);
    static int MaxObjectsPerUser();
    // Operations of one user that may wait in the queue; 0: no bound.
    static void SetMaxQueuedOperationsPerUser(int count);
    static int MaxQueuedOperationsPerUser();
    // Octets of a user token (CreateObject, UpdateUserToken); 0: no bound.
    static void SetMaxTokenOctets(int count);
    static int MaxTokenOctets();
  };
}

#endif
