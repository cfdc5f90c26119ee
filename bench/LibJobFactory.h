// LibJobFactory: the benchmark server's factory. CreateObject gives each
// client a LibJobRouter (the kit's relays) or, with the library alone, a
// LibRefJobRouter (the application's own relays) serving an account (an AsyncServerImpl holding the
// user's token), both active in the server-object POA; the router is
// entered in the object table and returned.
//
// Owned by the root POA once activated; any ORB request thread may call it.
#ifndef KRO_BENCH_LIBJOBFACTORY_H
#define KRO_BENCH_LIBJOBFACTORY_H

#include "LibRefJobRouter.h"

#include "KroServer/ServerFactoryImpl.h"

namespace KroJournal
{
  class Journal;
}

namespace KroBench
{
  class LibJobFactory : public Krovane::ServerFactoryImpl
  {
  public:
    // maxThreads: the pool's maximum (the first router sets it);
    // callbackTimeout: seconds a client's handler may take per callback;
    // journal: where routers record their jobs (not owned; null: none);
    // libraryAlone: LibRefJobRouter, handing relays over as handover says,
    // instead of LibJobRouter.
    LibJobFactory(PortableServer::POA_ptr serverObjectPOA, int maxThreads, int callbackTimeout,
                  KroJournal::Journal* journal = nullptr, bool libraryAlone = false,
                  LibRefJobRouter::Handover handover = LibRefJobRouter::Handover::kItself);

    // IServerFactory: a new KroBench::IJobs for token; the caller owns it.
    Krovane::ISyncServer_ptr CreateObject(const Krovane::UserToken& token) override;

  private:
    const int m_maxThreads;       // the pool's maximum
    const int m_callbackTimeout;  // seconds per callback
    KroJournal::Journal* const m_journal;  // null: jobs kept in memory only
    const bool m_libraryAlone;             // LibRefJobRouter routers
    const LibRefJobRouter::Handover m_handover;  // how they hand their relays over
  };
}

#endif
