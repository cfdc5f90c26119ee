#include "KroKit/ActiveServant.h"

#include "OrbLayer/PrintException.h"

namespace KroKit
{
  void DeactivateServant(PortableServer::POA_ptr poa, const PortableServer::ObjectId& id)
  {
    try
    {
      poa->deactivate_object(id);
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, "ActiveServant: deactivating");
    }
  }
}
