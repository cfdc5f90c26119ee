// UserLimits: the process's bounds per user (UserVerifier::UserOf names
// the user): live server objects in the object table, and asynchronous
// operations waiting in the pool's queue. 0 means no bound, the default.
//
// A factory's AddObjectToTable beyond the object bound raises
// CORBA::NO_RESOURCES; a submission beyond the queue bound raises
// CORBA::IMP_LIMIT; both are logged with the user and the bound. Checking
// costs a walk over the objects in the table (bench/UserLimitsBench: about
// 1 us for 10 objects, 15 us for 100, 170 us for 1000 per check, against
// some 300 us of CPU for a whole operation), so it is done only while a
// bound is set, and no bound is set by default.
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
  };
}

#endif
