// ServerIncarnation: which start of its server process a reply came from.
//
// A server restarted on the same endpoint and journal brings its objects
// back under the same references, so a client cannot tell from a reply
// that the process behind it is new, and that the handlers it had handed
// the old one are gone. Each reply of a server therefore carries, in
// service context kContextId, eight octets drawn at random when the
// process started (never 0); a client notes them per thread and compares.
//
// Announce() adds the server's hooks, Listen() the client's (each once per
// process; omniORB refuses hooks before ORB_init). Replies of objects in
// the caller's own process pass no hook: their value is 0, as is that of a
// server without the hook.
//
// Threads: any (what a client notes is per thread).
#ifndef KRO_ORBLAYER_SERVERINCARNATION_H
#define KRO_ORBLAYER_SERVERINCARNATION_H

#include <omniORB4/CORBA.h>

#include <cstdint>

namespace KroOrb
{
  class ServerIncarnation
  {
  public:
    static const IOP::ServiceID kContextId = 0x4B524F49;  // eight octets, big-endian

    // This process's replies carry its value, from now on.
    static void Announce();
    // This process notes the value of each reply it receives, from now on.
    static void Listen();

    // This process's value: random, drawn once, never 0.
    static std::uint64_t OfThisProcess();
    // Forgets what this thread noted: call before the request whose reply counts.
    static void ClearLastReply();
    // The value of the latest reply this thread received since
    // ClearLastReply; 0 when it carried none (or none came).
    static std::uint64_t OfLastReply();
  };
}

#endif
