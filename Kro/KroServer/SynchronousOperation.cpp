#include "KroServer/SynchronousOperation.h"

namespace Krovane
{
  SynchronousOperation::SynchronousOperation(CORBA::Object_ptr target, const char* name)
    : Operation(name), m_target(CORBA::Object::_duplicate(target))
  {
  }

  SynchronousOperation::~SynchronousOperation()
  {
    CORBA::release(m_target);
  }
}
