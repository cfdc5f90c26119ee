#include "OrbLayer/TlsTransport.h"

#include <omniORB4/CORBA.h>

#include <ace/Log_Msg.h>

#include <dlfcn.h>

#include <string>

namespace KroOrb
{
  namespace
  {
    // The module with omnisslTP and the context (TlsContext.h).
    const char* const kTlsModule = "libKroOrbTls17.so";
    const char* const kInstallEntry = "KroOrbInstallTlsContext";

    typedef bool (*InstallEntry)(const TlsSettings*);

    // The module beside this library, by its full path: dlopen would look
    // along the runpath of its caller, which a sanitizer's interceptor
    // replaces with its own. The bare name (the loader's search) otherwise.
    std::string ModulePath()
    {
      Dl_info self;
      if (dladdr(reinterpret_cast<void*>(&TlsTransport::Install), &self) == 0 || !self.dli_fname)
        return kTlsModule;
      const std::string library(self.dli_fname);
      const std::string::size_type slash = library.rfind('/');
      return slash == std::string::npos ? kTlsModule : library.substr(0, slash + 1) + kTlsModule;
    }
  }

  void TlsTransport::Install(const TlsSettings& settings)
  {
    if (!settings.Enabled())
      return;
    // Global, so that omniORB finds the SSL transport's symbols; never
    // closed: omniORB uses it until the process ends.
    void* module = dlopen(ModulePath().c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (!module)
      module = dlopen(kTlsModule, RTLD_NOW | RTLD_GLOBAL);
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
