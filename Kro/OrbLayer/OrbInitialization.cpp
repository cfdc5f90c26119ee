#include "OrbLayer/OrbInitialization.h"
#include "OrbLayer/CallbackNumbers.h"
#include "OrbLayer/InterceptorRegistry.h"
#include "OrbLayer/ORBInitInfo.h"
#include "OrbLayer/ORBInitializer.h"
#include "OrbLayer/RequestRefusal.h"
#include "OrbLayer/ServerIncarnation.h"

#include <mutex>
#include <string>
#include <vector>

namespace
{
  // Initializers registered before the ORB starts, and whether it has.
  struct InitializerRegistry
  {
    std::mutex lock;
    std::vector<PortableInterceptor::ORBInitializer_var> initializers;
    bool orbInitialised = false;
  };

  InitializerRegistry& Registry()
  {
    static InitializerRegistry* registry = new InitializerRegistry;  // lives to process end
    return *registry;
  }
}

namespace PortableInterceptor
{
  ORBInitializer::~ORBInitializer() {}

  void register_orb_initializer(ORBInitializer* initializer)
  {
    if (!initializer)
      throw CORBA::BAD_PARAM(0, CORBA::COMPLETED_NO);
    InitializerRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    if (registry.orbInitialised)
      throw CORBA::BAD_INV_ORDER(0, CORBA::COMPLETED_NO);
    registry.initializers.push_back(ORBInitializer_var(ORBInitializer_var::Duplicate(initializer)));
  }
}

namespace KroOrb
{
  CORBA::ORB_ptr InitOrb(int& argc, char** argv, const char* orbId)
  {
    InitializerRegistry& registry = Registry();
    std::vector<PortableInterceptor::ORBInitializer_var> initializers;
    {
      std::lock_guard<std::mutex> guard(registry.lock);
      if (registry.orbInitialised)
        throw CORBA::BAD_INV_ORDER(0, CORBA::COMPLETED_NO);
      registry.orbInitialised = true;
      initializers = registry.initializers;
    }

    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i)
      arguments.push_back(argv[i] ? argv[i] : "");
    PortableInterceptor::ORBInitInfo info(orbId ? orbId : "", arguments);

    try
    {
      for (auto& initializer : initializers)
        initializer->pre_init(&info);
      // Outgoing connections (callbacks to clients) idle for 10 s are
      // closed: one a client has closed would otherwise stay in CLOSE-WAIT
      // and fail the next callback to whoever takes its port. The command
      // line's -ORBoutConScanPeriod still wins.
      const char* defaults[][2] = {{"outConScanPeriod", "10"}, {nullptr, nullptr}};
      CORBA::ORB_var orb = CORBA::ORB_init(argc, argv, orbId ? orbId : "", defaults);
      for (auto& initializer : initializers)
        initializer->post_init(&info);
      InterceptorRegistry::Instance().Install(orb.in());
      // Numbered callbacks, and a client's word that it orders them, come
      // with the requests from the first one on.
      CallbackNumbers::Install();
      // Replies say which start of this process sent them: a client can
      // tell a restarted server from the one it handed its handlers.
      ServerIncarnation::Announce();
      // A stopping server refuses what arrives as it ends (RequestRefusal).
      RequestRefusal::Install();
      return orb._retn();
    }
    catch (...)
    {
      // A failed start-up may be tried again.
      std::lock_guard<std::mutex> guard(registry.lock);
      registry.orbInitialised = false;
      throw;
    }
  }
}
