// StoppedThreads: pool threads that an operation's cancellation has asked to
// stop (Operation::Cancel of an operation that cannot stop itself).
//
// ACE's cancel flag, which the work reads, cannot be cleared again, so such a
// thread must leave the pool once its operation has ended; the pool learns
// of it here, without asking ACE's thread manager after every operation (a
// manager that the process's end may already be taking down). Thread-safe;
// lives to the process's end.
#ifndef KROSERVER_STOPPEDTHREADS_H
#define KROSERVER_STOPPEDTHREADS_H

namespace Krovane
{
  class StoppedThreads
  {
  public:
    // The thread is asked to stop.
    static void Mark(unsigned long threadId);
    // Whether the thread was asked to stop; forgets it.
    static bool Take(unsigned long threadId);
  };
}

#endif
