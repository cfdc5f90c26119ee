// KroSystem: the process's ORB and root POA.
//
// One per process. The application initialises the ORB through it once
// (InitOrb), after registering its ORB initializers, and destroys it at the
// end (Destroy). Every thread may then ask it for the ORB and the root POA.
#ifndef KRO_KRODAZADARED_KROSYSTEM_H
#define KRO_KRODAZADARED_KROSYSTEM_H

#include <omniORB4/CORBA.h>

#include <ace/Thread_Mutex.h>

namespace Krovane
{
  class KroSystem
  {
  public:
    // The process singleton. With a nonzero argument, asking for the ORB or
    // the root POA before InitOrb (or after Destroy) raises
    // CORBA::BAD_INV_ORDER and logs why; with 0 the answer is a nil
    // reference instead, for callers that must never fail (interceptors).
    static KroSystem* Instance(int raiseIfUninitialised);

    // Initialises the process ORB: runs the registered ORB initializers,
    // CORBA::ORB_init, resolves the root POA and activates its manager.
    // Raises CORBA::BAD_INV_ORDER when the ORB already exists.
    void InitOrb(int& argc, char** argv, const char* orbId = "");

    // A new reference to the process ORB; the caller releases it.
    CORBA::ORB_ptr GetOrb();
    // Whether there is an ORB (as GetOrb() not nil), without a reference to
    // it: for checks made on every request. Raises as GetOrb() does.
    bool HasOrb();
    // A new reference to the root POA; the caller releases it.
    PortableServer::POA_ptr GetRootPOA();

    // Nonzero between InitOrb and Destroy.
    int IsInitialised();

    // Destroys the ORB (waiting for requests in progress) and forgets it.
    // Call it from the main thread once the event threads have ended.
    void Destroy();

  private:
    explicit KroSystem(bool raiseIfUninitialised);
    KroSystem(const KroSystem&) = delete;
    KroSystem& operator=(const KroSystem&) = delete;

    // Raises (or not) for a missing ORB, as this view was asked to.
    bool RefuseUninitialised(const char* method) const;

    const bool m_raiseIfUninitialised;  // which of the two views this is
  };
}

#endif
