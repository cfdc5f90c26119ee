// KroFaultsFrontEnd: the example's front end (KroTiersFrontEnd, its own
// sources and main) with a pool of one thread, so that while one operation
// runs any other waits. The pool's maximum is fixed by the first router
// built in the process, and the example's routers ask for ten: a throw-away
// router asking for one is built first, here, and goes again at once.
// Takes the example's command line.
#include "KroServer/AsynchronousRouter.h"

// The example's main, renamed in this program's build.
int KroTiersFrontEndMain(int argc, char** argv);

namespace
{
  class PoolOfOne : public Krovane::AsynchronousRouter
  {
  public:
    PoolOfOne() : Krovane::AsynchronousRouter(PortableServer::POA::_nil(), Krovane::IAsyncServer::_nil(), 1, 0) {}

    void ExecuteOperation(const std::string&, std::vector<Halvern_Utilities::Variant>*) override {}
  };
}

int main(int argc, char** argv)
{
  {
    // Starts no thread: the example's main still comes before any.
    PortableServer::ServantBase_var router = new PoolOfOne;
  }
  return KroTiersFrontEndMain(argc, argv);
}
