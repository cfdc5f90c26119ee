#include "FrontEndRouter.h"

#include "ForwardingHandler.h"

#include "KroServer/SysExceptionHolderImpl.h"
#include "OrbLayer/PrintException.h"

#include <ace/Log_Msg.h>

#include <exception>

namespace KroTiers
{
  namespace
  {
    // How often the front end looks whether the client cancelled or the
    // back end has gone while it waits.
    const std::chrono::milliseconds c_checkInterval(500);
    // The front end's pool: this many operations at once at most.
    const int c_poolThreads = 10;
  }

  FrontEndRouter::FrontEndRouter(PortableServer::POA_ptr poa, BackEndRegistry& registry,
                                 BackEndRefresher& refresher, int waitSeconds, int retries)
    : Krovane::AsynchronousDepServerRouter(poa, Krovane::IAsyncServer::_nil(), c_poolThreads, 0, registry.List(),
                                           nullptr),
      m_registry(registry),
      m_refresher(refresher),
      m_wait(waitSeconds)
  {
    SetRetries(retries);
  }

  CORBA::Long FrontEndRouter::StartWork(CORBA::Long steps, Krovane::IAsyncHandler_ptr handler)
  {
    if (steps < 1 || steps > 1000)
      throw CORBA::BAD_PARAM(0, CORBA::COMPLETED_NO);
    WorkRequests::Pending request(m_requests, m_poa.in(), steps, handler);  // forgotten unless kept
    // Safe to run again: the work has no effect beyond its results.
    const int id = SubmitAsynchronousOperation("StartWork", Krovane::IAsyncServer::_nil(), request->relay.in(),
                                               &request->parameters, Krovane::Restartable::Yes);
    if (id < 0)
      throw CORBA::NO_MEMORY(0, CORBA::COMPLETED_NO);
    request.Keep();
    return id;
  }

  void FrontEndRouter::Remove()
  {
    Krovane::AsynchronousDepServerRouter::Remove();
    m_requests.RetireAll(m_poa.in());
  }

  void FrontEndRouter::DispatchOperation(const std::string& name, int operationId,
                                         Krovane::IAsyncHandler_ptr handler,
                                         std::vector<Halvern_Utilities::Variant>* params)
  {
    m_workStarted = false;
    m_backEndFailed = false;
    try
    {
      AsynchronousDepServerRouter::DispatchOperation(name, operationId, handler, params);
      if (!m_workStarted)
      {
        // No free entry: back ends may have come since the last re-read.
        m_refresher.RefreshNow();
        AsynchronousDepServerRouter::DispatchOperation(name, operationId, handler, params);
        if (!m_workStarted)
        {
          ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) KroTiersFrontEnd: no back end is free\n")));
          ReportError(handler, "no back end is free");
        }
      }
    }
    catch (const CORBA::SystemException&)
    {
      m_refresher.RefreshSoon();  // the back end that failed may be gone for good
      throw;
    }
  }

  void FrontEndRouter::Cleanup()
  {
    bool failing = m_backEndFailed;
    if (std::exception_ptr failure = std::current_exception())
    {
      // Called from the library's handler of a failure: a system exception
      // is the claimed back end's (creating the object or starting the work).
      try
      {
        std::rethrow_exception(failure);
      }
      catch (const CORBA::SystemException&)
      {
        failing = true;
      }
      catch (...)
      {
      }
    }
    Krovane::DependentServerEntry* entry = GetDepServerEntry();
    if (failing && entry)
    {
      m_registry.Withdraw(entry);  // before the library frees it: never claimed again
      m_refresher.RefreshSoon();   // it may be gone for good, or back under a new reference
    }
    m_backEndFailed = false;       // the next attempt has a back end of its own
    AsynchronousDepServerRouter::Cleanup();
  }

  void FrontEndRouter::ExecuteOperation(const std::string&, std::vector<Halvern_Utilities::Variant>* parameters)
  {
    m_workStarted = true;
    Krovane::IAsyncHandler_var client = CurrentOperationHandler();
    Krovane::DependentServerEntry* entry = GetDepServerEntry();
    const std::string backEndName = entry ? entry->GetServerName() : "";
    Krovane::IAsyncServer_var dependent = GetServer();
    KroTiers::IWorkServer_var backEnd = KroTiers::IWorkServer::_narrow(dependent.in());
    if (CORBA::is_nil(backEnd.in()))
    {
      ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) KroTiersFrontEnd: back end \"%C\" does no work\n"),
                 backEndName.c_str()));
      return;
    }

    ActiveForwarder forwarder(m_poa.in(), client.in());
    CORBA::Long backEndOperation = 0;
    try
    {
      backEndOperation = backEnd->StartWork(WorkRequests::Steps(parameters), forwarder.Reference());
    }
    catch (const CORBA::SystemException& ex)
    {
      KroOrb::PrintException(ex, "KroTiersFrontEnd: back end lost");
      LoseBackEnd(backEndName);
    }
    ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) KroTiersFrontEnd: operation runs on back end \"%C\"\n"),
               backEndName.c_str()));
    if (!WaitForBackEnd(backEnd.in(), backEndOperation, forwarder.Servant()))
      LoseBackEnd(backEndName);
  }

  void FrontEndRouter::LoseBackEnd(const std::string& backEndName)
  {
    m_backEndFailed = true;
    throw DependentServerLost{"back end " + backEndName + " is gone"};
  }

  bool FrontEndRouter::WaitForBackEnd(KroTiers::IWorkServer_ptr backEnd, CORBA::Long backEndOperation,
                                      ForwardingHandler& forwarder)
  {
    const auto deadline = std::chrono::steady_clock::now() + m_wait;
    while (!forwarder.WaitForFinished(c_checkInterval))
    {
      try
      {
        ServiceCancellation();
        if (std::chrono::steady_clock::now() >= deadline)
        {
          ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) KroTiersFrontEnd: the back end did not finish in time\n")));
          throw Krovane::OperationCancelled();
        }
      }
      catch (const Krovane::OperationCancelled&)
      {
        try
        {
          backEnd->CancelOperation(backEndOperation);
        }
        catch (const CORBA::Exception& ex)
        {
          KroOrb::PrintException(ex, "KroTiersFrontEnd: cancelling on the back end");
        }
        throw;
      }

      try
      {
        backEnd->GetOperationState(backEndOperation);  // only to see that the back end is there
      }
      catch (const CORBA::SystemException& ex)
      {
        KroOrb::PrintException(ex, "KroTiersFrontEnd: back end lost");
        if (!forwarder.ResultsForwarded())
          return false;
        // Only its Finished was lost: running the work again would repeat the results.
        ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) KroTiersFrontEnd: the back end was lost after its results\n")));
        return true;
      }
    }
    return true;
  }

  void FrontEndRouter::ReportError(Krovane::IAsyncHandler_ptr client, const std::string& reason)
  {
    if (CORBA::is_nil(client))
      return;
    Krovane::IAsyncExceptionHolder_var holder = CreateKroExceptionHolder(new Krovane::SysExceptionHolderImpl(reason));
    client->Error(holder.in());
  }
}
