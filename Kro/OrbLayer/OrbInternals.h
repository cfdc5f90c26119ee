// OrbInternals: what the ORB layer reads of omniORB beyond its public API,
// in one place. Each reading was written for, and checked against, omniORB
// 4.2 and 4.3 (OrbVersion.h). Built with another omniORB, or with
// KRO_ORB_INTERNALS=OFF, Checked() is false: callers then take the public
// API's way, and the readings that have none raise CORBA::NO_IMPLEMENT.
//
// Threads: any; none of them keeps state of its own.
#ifndef KRO_ORBLAYER_ORBINTERNALS_H
#define KRO_ORBLAYER_ORBINTERNALS_H

#include <omniORB4/CORBA.h>

class omniServant;

namespace KroOrb
{
  class OrbInternals
  {
  public:
    // Whether the readings below hold for the omniORB of this build.
    static bool Checked();

    // Whether servant has an activation left, read from the servant's own
    // list under the ORB's lock: what the POA would answer, without a
    // look-up in its table. Raises NO_IMPLEMENT when !Checked().
    static bool HasActivation(PortableServer::Servant servant);

    // The ORB's servant an upcall is made on, as the ORB gives it to its
    // hooks; the PortableServer servant and the classes above it are found
    // from it with dynamic_cast. Null when !Checked(), so that callers take
    // the POA current's way.
    static omniServant* UpcallServant(omniServant* servant);

    // A new reference to target's object, as repoId (null: CORBA::Object),
    // that shares a remote target's identity (address, connections) instead
    // of building it again from the IOR, and makes no existence check
    // before its first call. When !Checked(): the IOR's round trip through
    // the ORB (object_to_string, string_to_object), a proxy of its own too.
    static CORBA::Object_ptr NewProxy(CORBA::ORB_ptr orb, CORBA::Object_ptr target, const char* repoId);

    // The call time-out omniORB keeps on reference (it has a setter and no
    // getter), in seconds and nanoseconds. Raises NO_IMPLEMENT when !Checked().
    static void CallTimeout(CORBA::Object_ptr reference, unsigned long& seconds, unsigned long& nanoseconds);
  };
}

#endif
