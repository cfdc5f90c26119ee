#include "KroKit/ServerObjectPOA.h"

namespace KroKit
{
  PortableServer::POA_ptr CreateServerObjectPOA(PortableServer::POA_ptr root, const char* name,
                                                PortableServer::LifespanPolicyValue lifespan,
                                                PortableServer::IdAssignmentPolicyValue ids)
  {
    PortableServer::POAManager_var manager = root->the_POAManager();
    CORBA::PolicyList policies;
    policies.length(5);
    policies[0] = root->create_servant_retention_policy(PortableServer::RETAIN);
    policies[1] = root->create_id_uniqueness_policy(PortableServer::UNIQUE_ID);
    policies[2] = root->create_implicit_activation_policy(PortableServer::NO_IMPLICIT_ACTIVATION);
    policies[3] = root->create_id_assignment_policy(ids);
    policies[4] = root->create_lifespan_policy(lifespan);
    PortableServer::POA_var poa = root->create_POA(name, manager.in(), policies);
    for (CORBA::ULong i = 0; i < policies.length(); ++i)
      policies[i]->destroy();
    return poa._retn();
  }
}
