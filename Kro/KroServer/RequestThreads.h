// RequestThreads: the ORB threads that are serving a request right now.
//
// The ORB's own threads are not ACE's, so ACE's thread manager does not know
// them; an operation record of a request must still be able to reach its
// thread's jobs when the request is cancelled. The server interceptor marks
// a thread as serving from the moment it records a request until the
// request's reply or exception is sent (nested requests on one thread are
// counted). Thread-safe; Enter and Leave are called by the thread itself.
#ifndef KROSERVER_REQUESTTHREADS_H
#define KROSERVER_REQUESTTHREADS_H

namespace Krovane
{
  class RequestThreads
  {
  public:
    // The calling thread (threadId) starts serving one more request.
    static void Enter(unsigned long threadId);
    // The calling thread (threadId) has ended one of the requests it serves.
    static void Leave(unsigned long threadId);
    // Whether the thread serves a request now.
    static bool IsServing(unsigned long threadId);
  };
}

#endif
