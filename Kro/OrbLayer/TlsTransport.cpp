#include "OrbLayer/TlsTransport.h"

#include <omniORB4/CORBA.h>

#include <ace/Log_Msg.h>

#include <dlfcn.h>

namespace KroOrb
{
  namespace
  {
    // The module with omnisslTP and the context (TlsContext.h).
    const char* const kTlsModule = "libKroOrbTls17.so";
    const char* const kInstallEntry = "KroOrbInstallTlsContext";

    typedef bool (*InstallEntry)(const TlsSettings*);
  }

  void TlsTransport::Install(const TlsSettings& settings)
  {
    if (!settings.Enabled())
      return;
    // Global, so that omniORB finds the SSL transport's symbols; never
    // closed: omniORB uses it until the process ends.
    void* module = dlopen(kTlsModule, RTLD_NOW | RTLD_GLOBAL);
    InstallEntry install = module ? reinterpret_cast<InstallEntry>(dlsym(module, kInstallEntry)) : nullptr;
    if (!install)
    {
      ACE_ERROR((LM_ERROR, ACE_TEXT("(%P|%t) TLS: cannot load %C: %C\n"), kTlsModule, dlerror()));
      throw CORBA::INITIALIZE(0, CORBA::COMPLETED_NO);
    }
    if (!install(&settings))
      throw CORBA::BAD_INV_ORDER(0, CORBA::COMPLETED_NO);
  }

  std::vector<std::string> TlsTransport::OrbOptions(const TlsSettings& settings)
  {
    if (!settings.Enabled() || settings.plainTcpToo)
      return {};
    return {"-ORBserverTransportRule", "* ssl", "-ORBclientTransportRule", "* ssl"};
  }
}
