// Linked into the fault tests' front end (KroFaultsFrontEnd: the example's
// front end with a pool of one thread, so that a second operation of the
// process waits). The pool's maximum is fixed by the first router built in
// the process, and the example's routers ask for ten: a throw-away router
// asking for one is built here, before main, and goes again at once.
#include "KroServer/AsynchronousRouter.h"

namespace
{
  class PoolOfOne : public Krovane::AsynchronousRouter
  {
  public:
    PoolOfOne() : Krovane::AsynchronousRouter(PortableServer::POA::_nil(), Krovane::IAsyncServer::_nil(), 1, 0) {}

    void ExecuteOperation(const std::string&, std::vector<Halvern_Utilities::Variant>*) override {}
  };

  // Built during the program's static initialisation, after the library's
  // pool (a shared library is initialised before the program); no thread
  // is started.
  const bool s_poolOfOne = []
  {
    PortableServer::ServantBase_var router = new PoolOfOne;
    return true;
  }();
}
