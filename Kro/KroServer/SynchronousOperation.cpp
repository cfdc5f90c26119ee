#include "KroServer/SynchronousOperation.h"
#include "KroServer/OperationHandles.h"

namespace Krovane
{
  SynchronousOperation::SynchronousOperation(CORBA::Object_ptr target, const char* name)
    : Operation(name), m_target(CORBA::Object::_duplicate(target)), m_callHandle(0)
  {
  }

  SynchronousOperation::~SynchronousOperation()
  {
    if (m_callHandle.load() != 0)
      OperationHandles::Forget(this);
    CORBA::release(m_target);
  }
}
