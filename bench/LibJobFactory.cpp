#include "LibJobFactory.h"

#include "LibJobRouter.h"
#include "LibRefJobRouter.h"

#include "KroKit/ActiveServant.h"

#include "KroJournal/Journal.h"
#include "KroJournal/JournalActivator.h"

#include "KroServer/AsyncServerImpl.h"

namespace KroBench
{
  LibJobFactory::LibJobFactory(PortableServer::POA_ptr serverObjectPOA, int maxThreads, int callbackTimeout,
                               KroJournal::Journal* journal, bool libraryAlone,
                               LibRefJobRouter::Handover handover)
    : Krovane::ServerFactoryImpl(serverObjectPOA),
      m_maxThreads(maxThreads),
      m_callbackTimeout(callbackTimeout),
      m_journal(journal),
      m_libraryAlone(libraryAlone),
      m_handover(handover)
  {
  }

  Krovane::ISyncServer_ptr LibJobFactory::CreateObject(const Krovane::UserToken& token)
  {
    // Both are deactivated again if a later step fails.
    KroKit::ActiveServant<Krovane::AsyncServerImpl, Krovane::IAsyncServer> account(
      m_serverObjectPOA.in(), new Krovane::AsyncServerImpl(m_serverObjectPOA.in(), 0));
    account->SetUserToken(token);
    if (m_libraryAlone)
    {
      KroKit::ActiveServant<LibRefJobRouter, Krovane::ISyncServer> router(
        m_serverObjectPOA.in(),
        new LibRefJobRouter(m_serverObjectPOA.in(), account.Reference(), m_maxThreads, m_callbackTimeout,
                            m_handover));
      AddObjectToTable(router.Reference());
      account.Keep();
      router.Keep();
      return Krovane::ISyncServer::_duplicate(router.Reference());
    }
    KroKit::ActiveServant<LibJobRouter, Krovane::ISyncServer> router(
      m_serverObjectPOA.in(),
      new LibJobRouter(m_serverObjectPOA.in(), account.Reference(), m_maxThreads, m_callbackTimeout));
    if (m_journal)
    {
      const std::string key = KroJournal::JournalActivator::KeyOf(router.Id());
      m_journal->ObjectCreated(key, account->GetUserPacket().GetToken());
      router->AttachJournal(m_journal, key);
    }
    AddObjectToTable(router.Reference());
    account.Keep();
    router.Keep();
    return Krovane::ISyncServer::_duplicate(router.Reference());
  }
}
