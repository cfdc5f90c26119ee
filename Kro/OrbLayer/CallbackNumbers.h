// CallbackNumbers: a callback's place in its sender's order, carried from
// the process that makes callbacks to the one that serves them, and the
// word of a caller that it puts numbered callbacks back in order.
//
// A server may have several callbacks of one handler in flight at once; the
// receiving ORB may then run them on several threads, in any order. Each
// such callback carries, in service context kNumberContextId, its number
// (1, 2, ... per handler) and the sender's settled mark: every callback
// numbered below it has been answered or given up, so a receiver waiting
// for a lower number waits in vain. A client that restores that order says
// so in the requests that hand its handler over (kOrderedContextId); callers
// that do not are sent one callback at a time.
//
// Install() adds omniORB hooks (once per process) that put both contexts in
// the requests of a thread inside a Sending or Announcing scope, and note
// both for the thread that serves an incoming request until its reply goes.
// A server's ORB gets them at its start (InitOrb); a client's when it asks.
//
// Threads: Install after ORB_init (omniORB refuses hooks before); the rest
// from any thread (all of it is per thread).
#ifndef KRO_ORBLAYER_CALLBACKNUMBERS_H
#define KRO_ORBLAYER_CALLBACKNUMBERS_H

#include <omniORB4/CORBA.h>

namespace KroOrb
{
  struct CallbackNumber
  {
    CORBA::ULong number = 0;   // 0: not numbered
    CORBA::ULong settled = 0;  // every number below it is answered or given up
  };

  class CallbackNumbers
  {
  public:
    static const IOP::ServiceID kNumberContextId = 0x4B524F4E;   // eight octets, big-endian: number, settled
    static const IOP::ServiceID kOrderedContextId = 0x4B524F4F;  // no octets: the caller restores order

    // Adds the hooks (once per process; later calls do nothing).
    static void Install();

    // The number of the callback this thread serves; number 0 when it came
    // without one (or the thread serves none).
    static CallbackNumber OfThisRequest();
    // Whether the request this thread serves says its caller restores order.
    static bool CallerKeepsOrder();

    // Requests this thread sends while it lives carry number.
    class Sending
    {
    public:
      explicit Sending(CallbackNumber number);
      ~Sending();
      Sending(const Sending&) = delete;
      Sending& operator=(const Sending&) = delete;
    };

    // Requests this thread sends while it lives say the caller restores order.
    class Announcing
    {
    public:
      Announcing();
      ~Announcing();
      Announcing(const Announcing&) = delete;
      Announcing& operator=(const Announcing&) = delete;

    private:
      const bool m_outer;  // the thread's word before this scope
    };
  };
}

#endif
