// RequestRefusal: a stopping server's last word to new requests. Once
// RefuseFromNow() has been called, every request that arrives is answered
// TRANSIENT (completed NO) before it reaches an object adapter: while the
// ORB's shutdown destroys the POAs a request would otherwise get
// OBJECT_NOT_EXIST, which a client takes to mean that its object is gone
// for good, though a server restarted on its journal brings it back.
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
    // From now on (for the rest of the process) requests are refused.
    static void RefuseFromNow();
  };
}

#endif
