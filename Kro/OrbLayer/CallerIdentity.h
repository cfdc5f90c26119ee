// CallerIdentity: who sent the request the calling thread is serving, as
// the connection tells it: the peer's address and, on a TLS connection
// whose client certificate the ORB verified, the certificate's common name.
//
// Install() adds omniORB hooks that note the connection's details when a
// request arrives and forget them when its reply or exception goes; the
// upcall runs on the same thread in between. Calls between objects of one
// process carry no connection: OfThisRequest() is then empty (or, for a
// call made while serving a remote request, that request's caller).
//
// Threads: Install once, after ORB_init and before the objects it guards
// are published; OfThisRequest from any thread (the details are per thread).
#ifndef KRO_ORBLAYER_CALLERIDENTITY_H
#define KRO_ORBLAYER_CALLERIDENTITY_H

#include <string>

namespace KroOrb
{
  struct CallerIdentity
  {
    std::string address;          // e.g. "giop:ssl:127.0.0.1:40112"; empty in-process
    std::string certificateName;  // the verified client certificate's CN; empty without one

    // Adds the hooks (once per process; later calls do nothing).
    static void Install();
    // The caller of the request this thread is serving.
    static CallerIdentity OfThisRequest();
  };
}

#endif
