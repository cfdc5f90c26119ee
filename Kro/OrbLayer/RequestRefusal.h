// RequestRefusal: a server's word to requests that come while it cannot
// serve them yet or any more. Between RefuseFromNow() and AcceptFromNow()
// every request that arrives is answered TRANSIENT (completed NO) before it
// reaches an object adapter: a server starting on its journal has not made
// the POA of its objects yet, and one stopping destroys its POAs while the
// ORB shuts down; either would answer OBJECT_NOT_EXIST, which a client takes
// to mean that its object is gone for good, though the journal brings it back.
//
// Install() adds the hook (once per process, after ORB_init). Threads: any.
#ifndef KRO_ORBLAYER_REQUESTREFUSAL_H
#define KRO_ORBLAYER_REQUESTREFUSAL_H

namespace KroOrb
{
  class RequestRefusal
  {
  public:
    static void Install();
    // From now on requests are refused (may come before Install).
    static void RefuseFromNow();
    // From now on requests are served.
    static void AcceptFromNow();
  };
}

#endif
