// RelayLabServer: the server process of the relay tests.
//
//   RelayLabServer --ior-file PATH [--non-waiting | --pipelined] [ORB options]
//
// Registers the server interceptor, as every server of the family does, so
// that exception holders are deactivated after their raise(); writes the
// reference of its Lab to PATH and serves it in four event threads until
// Lab::Shutdown. Relays and holders live in a POA of their own. Exception
// texts of the relays go to standard output, the log to standard error.
#include "RelayLab.hh"

#include "KroKit/IorFile.h"
#include "KroKit/ServerProcess.h"

#include "KroServer/AsyncExceptionHolderImpl.h"
#include "KroServer/AsyncOperationExceptionHolderImpl.h"
#include "KroServer/AsynchronousHandler.h"
#include "KroServer/DatabaseConnectionFailureHolderImpl.h"
#include "KroServer/InvalidOperationIdHolderImpl.h"
#include "KroServer/InvalidOperationStateHolderImpl.h"
#include "KroServer/KroServerEventHandler.h"
#include "KroServer/NoSuchObjectHolderImpl.h"
#include "KroServer/RelayDelivery.h"
#include "KroServer/OperationCancelledHolderImpl.h"
#include "KroServer/OperationsStillActiveHolderImpl.h"
#include "KroServer/SysExceptionHolderImpl.h"
#include "KroServer/UnavailableHolderImpl.h"
#include "OrbLayer/OrbShutdown.h"
#include "OrbLayer/RoundtripTimeoutPolicy.h"

#include <ace/Guard_T.h>
#include <ace/Thread_Manager.h>
#include <ace/Thread_Mutex.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace
{
  // A new holder of class kind; null for an unknown class.
  Krovane::AsyncExceptionHolderImpl* NewHolder(const std::string& kind, const std::string& message)
  {
    using namespace Krovane;
    if (kind == "AsyncExceptionHolderImpl") return new AsyncExceptionHolderImpl(message);
    if (kind == "AsyncOperationExceptionHolderImpl") return new AsyncOperationExceptionHolderImpl(message);
    if (kind == "DatabaseConnectionFailureHolderImpl") return new DatabaseConnectionFailureHolderImpl(message);
    if (kind == "InvalidOperationIdHolderImpl") return new InvalidOperationIdHolderImpl(message);
    if (kind == "InvalidOperationStateHolderImpl") return new InvalidOperationStateHolderImpl(message);
    if (kind == "NoSuchObjectHolderImpl") return new NoSuchObjectHolderImpl(message);
    if (kind == "OperationCancelledHolderImpl") return new OperationCancelledHolderImpl(message);
    if (kind == "OperationsStillActiveHolderImpl") return new OperationsStillActiveHolderImpl(message);
    if (kind == "SysExceptionHolderImpl") return new SysExceptionHolderImpl(message);
    if (kind == "UnavailableHolderImpl") return new UnavailableHolderImpl(message);
    return nullptr;
  }

  // The Lab. Relays and holders live in m_poa; the Lab keeps the relays'
  // references and the handlers they were made with. ORB threads call
  // everything concurrently; m_lock guards the list.
  class LabImpl : public virtual POA_KroRelayLab::Lab,
                  public virtual PortableServer::RefCountServantBase
  {
  public:
    LabImpl(CORBA::ORB_ptr orb, PortableServer::POA_ptr poa)
      : m_orb(CORBA::ORB::_duplicate(orb)), m_poa(PortableServer::POA::_duplicate(poa))
    {
    }

    CORBA::Long Wrap(Krovane::IAsyncHandler_ptr handler) override
    {
      PortableServer::ServantBase_var relay = new Krovane::AsynchronousHandler(handler);
      PortableServer::ObjectId_var id = m_poa->activate_object(relay.in());
      CORBA::Object_var object = m_poa->id_to_reference(id.in());
      Entry entry;
      entry.relay = Krovane::IAsyncHandler::_narrow(object.in());
      entry.handler = Krovane::IAsyncHandler::_duplicate(handler);
      ACE_Guard<ACE_Thread_Mutex> guard(m_lock);
      m_relays.push_back(entry);
      return static_cast<CORBA::Long>(m_relays.size() - 1);
    }

    void SetTimeout(CORBA::Long relay, CORBA::Long seconds) override
    {
      Relay(relay)->setTimeout(seconds);
    }

    void SetProxyHandler(CORBA::Long relay, Krovane::IAsyncHandler_ptr handler) override
    {
      Relay(relay)->setProxyHandler(handler);
      ACE_Guard<ACE_Thread_Mutex> guard(m_lock);
      m_relays.at(relay).handler = Krovane::IAsyncHandler::_duplicate(handler);
    }

    CORBA::Boolean IsAttached(CORBA::Long relay) override
    {
      Krovane::IAsyncHandler_var proxy = Relay(relay)->getProxyHandler();
      return !CORBA::is_nil(proxy.in());
    }

    CORBA::ULongLong TimeoutUnits(CORBA::Long relay) override
    {
      Krovane::IAsyncHandler_var proxy = Relay(relay)->getProxyHandler();
      return KroOrb::RoundtripTimeoutOf(proxy.in());
    }

    KroRelayLab::Outcome* Call(CORBA::Long relay, const char* callback, const char* argument,
                               CORBA::Long count, CORBA::Long threads, CORBA::Boolean direct) override
    {
      // The relay as the library reaches it, or the client's handler itself.
      const Entry entry = At(relay);
      Krovane::IAsyncHandler_var target;
      PortableServer::ServantBase_var servant;
      Krovane::AsynchronousHandler* relayServant = nullptr;
      if (direct)
        target = entry.handler;
      else
      {
        servant = m_poa->reference_to_servant(entry.relay.in());
        relayServant = dynamic_cast<Krovane::AsynchronousHandler*>(servant.in());
        if (!relayServant)
          throw CORBA::BAD_PARAM(0, CORBA::COMPLETED_NO);
      }

      const std::string name = callback;
      const std::string text = argument;
      std::atomic<int> next(0);
      ACE_Thread_Mutex outcomeLock;
      KroRelayLab::Outcome_var outcome = new KroRelayLab::Outcome;
      outcome->returned = 0;
      outcome->refused = 0;
      outcome->refusal = CORBA::string_dup("");
      outcome->failed = 0;
      outcome->longestMillis = 0;

      auto work = [&]() {
        while (next++ < count)
        {
          const auto start = std::chrono::steady_clock::now();
          int returned = 0, refused = 0, failed = 0;
          std::string refusal;
          try
          {
            if (relayServant)
              Invoke(*relayServant, name, text);
            else
              Invoke(*target.in(), name, text);
            returned = 1;
          }
          catch (const CORBA::UserException& ex)
          {
            refused = 1;
            refusal = std::string(ex._rep_id()) + " " + Reason(ex);
          }
          catch (...)
          {
            failed = 1;
          }
          const long long millis = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start).count();
          ACE_Guard<ACE_Thread_Mutex> guard(outcomeLock);
          outcome->returned += returned;
          outcome->refused += refused;
          outcome->failed += failed;
          if (refused)
            outcome->refusal = CORBA::string_dup(refusal.c_str());
          outcome->longestMillis = std::max<long long>(outcome->longestMillis, millis);
        }
      };
      std::vector<std::thread> workers;
      for (CORBA::Long i = 1; i < threads; ++i)
        workers.emplace_back(work);
      work();
      for (std::thread& worker : workers)
        worker.join();
      return outcome._retn();
    }

    Krovane::IAsyncExceptionHolder_ptr MakeHolder(const char* kind, const char* message) override
    {
      return Activate(kind, message);
    }

    void Shutdown() override
    {
      KroOrb::ShutdownOrb(m_orb.in(), false);
    }

    // Drops the relays and handlers before the ORB goes.
    void Clear()
    {
      ACE_Guard<ACE_Thread_Mutex> guard(m_lock);
      m_relays.clear();
    }

  private:
    struct Entry
    {
      Krovane::IAsyncHandler_var relay;    // the relay's reference
      Krovane::IAsyncHandler_var handler;  // the client's handler last given to it
    };

    // A copy of relay number relay's entry.
    Entry At(CORBA::Long relay)
    {
      ACE_Guard<ACE_Thread_Mutex> guard(m_lock);
      if (relay < 0 || static_cast<std::size_t>(relay) >= m_relays.size())
        throw CORBA::BAD_PARAM(0, CORBA::COMPLETED_NO);
      return m_relays[relay];
    }

    // The relay servant, held while the caller uses it.
    struct HeldRelay
    {
      PortableServer::ServantBase_var servant;  // keeps the relay alive
      Krovane::AsynchronousHandler* relay;      // the same, as a relay
      Krovane::AsynchronousHandler* operator->() const { return relay; }
    };

    HeldRelay Relay(CORBA::Long relay)
    {
      HeldRelay held;
      held.servant = m_poa->reference_to_servant(At(relay).relay.in());
      held.relay = dynamic_cast<Krovane::AsynchronousHandler*>(held.servant.in());
      if (!held.relay)
        throw CORBA::BAD_PARAM(0, CORBA::COMPLETED_NO);
      return held;
    }

    Krovane::IAsyncExceptionHolder_ptr Activate(const std::string& kind, const std::string& message)
    {
      // The POA holds the only reference once the holder is active.
      PortableServer::ServantBase_var holder = NewHolder(kind, message);
      if (!holder.in())
        throw CORBA::BAD_PARAM(0, CORBA::COMPLETED_NO);
      PortableServer::ObjectId_var id = m_poa->activate_object(holder.in());
      CORBA::Object_var object = m_poa->id_to_reference(id.in());
      return Krovane::IAsyncExceptionHolder::_narrow(object.in());
    }

    // A user exception's reason member, for the Krovane exceptions.
    static std::string Reason(const CORBA::UserException& ex)
    {
#define KRO_REASON(Type) \
      if (const Krovane::Type* typed = Krovane::Type::_downcast(&ex)) return typed->reason.in();
      KRO_REASON(AsyncOperationException)
      KRO_REASON(DatabaseConnectionFailure)
      KRO_REASON(InvalidOperationId)
      KRO_REASON(InvalidOperationState)
      KRO_REASON(NoSuchObject)
      KRO_REASON(OperationCancelled)
      KRO_REASON(OperationsStillActive)
      KRO_REASON(SysException)
      KRO_REASON(Unavailable)
#undef KRO_REASON
      return "";
    }

    // One callback named name with argument text on handler (a relay
    // servant or a reference).
    template <typename Handler>
    void Invoke(Handler& handler, const std::string& name, const std::string& text)
    {
      CORBA::Any data;
      data <<= text.c_str();
      if (name == "Queued") handler.Queued(std::atoi(text.c_str()));
      else if (name == "Status") handler.Status(text.c_str());
      else if (name == "Progress") handler.Progress(std::atof(text.c_str()));
      else if (name == "Results") handler.Results(data);
      else if (name == "Finished") handler.Finished(data);
      else if (name == "Error") handler.Error(HolderFor(text).in());
      else if (name == "SyncQueued") handler.SyncQueued(std::atoi(text.c_str()));
      else if (name == "SyncStatus") handler.SyncStatus(text.c_str());
      else if (name == "SyncProgress") handler.SyncProgress(std::atof(text.c_str()));
      else if (name == "SyncResults") handler.SyncResults(data);
      else if (name == "SyncFinished") handler.SyncFinished(data);
      else if (name == "SyncError") handler.SyncError(HolderFor(text).in());
      else throw CORBA::BAD_PARAM(0, CORBA::COMPLETED_NO);
    }

    // A new holder for "<class>:<message>".
    Krovane::IAsyncExceptionHolder_var HolderFor(const std::string& text)
    {
      const std::size_t colon = text.find(':');
      if (colon == std::string::npos)
        throw CORBA::BAD_PARAM(0, CORBA::COMPLETED_NO);
      return Activate(text.substr(0, colon), text.substr(colon + 1));
    }

    CORBA::ORB_var m_orb;              // the process ORB
    PortableServer::POA_var m_poa;     // where relays and holders live
    ACE_Thread_Mutex m_lock;           // guards m_relays
    std::vector<Entry> m_relays;    // by relay number
  };

  // Activates the Lab, publishes it and serves until Lab::Shutdown.
  void Serve(KroKit::ServerProcess& process, const std::string& iorFile)
  {
    PortableServer::POA_ptr root = process.RootPOA();
    PortableServer::POAManager_var manager = root->the_POAManager();
    CORBA::PolicyList policies;
    policies.length(0);
    PortableServer::POA_var relayPOA = root->create_POA("Relays", manager.in(), policies);

    LabImpl* lab = new LabImpl(process.Orb(), relayPOA.in());
    PortableServer::ServantBase_var labOwner = lab;
    CORBA::Object_var labReference = process.ActivateFactory(lab);
    CORBA::String_var ior = process.Orb()->object_to_string(labReference.in());
    KroKit::WriteIorFile(iorFile, ior.in());

    Krovane::KroServerEventHandler eventThreads(process.Orb(), 4, 0);
    if (eventThreads.open() != 0)
      throw std::runtime_error("cannot start the event threads");
    eventThreads.wait();
    // Relays delivering without waiting are let go by their delivery first.
    if (!Krovane::RelayDelivery::Instance().WaitUntilIdle(std::chrono::seconds(10)))
      std::fprintf(stderr, "relays still delivering at the end\n");
    lab->Clear();
  }
}

int main(int argc, char** argv)
{
  std::string iorFile;
  std::vector<char*> orbArgs{argv[0]};
  for (int i = 1; i < argc; ++i)
  {
    if (std::strcmp(argv[i], "--ior-file") == 0 && i + 1 < argc)
      iorFile = argv[++i];
    else if (std::strcmp(argv[i], "--non-waiting") == 0)  // every relay delivers without waiting
      Krovane::AsynchronousHandler::SetDefaultDelivery(Krovane::AsynchronousHandler::Delivery::kNonWaiting);
    else if (std::strcmp(argv[i], "--pipelined") == 0)  // several callbacks at once to clients that order them
    {
      Krovane::AsynchronousHandler::SetDefaultDelivery(Krovane::AsynchronousHandler::Delivery::kPipelined);
      Krovane::RelayDelivery::SetThreads(8);
    }
    else
      orbArgs.push_back(argv[i]);
  }
  if (iorFile.empty())
  {
    std::fprintf(stderr, "usage: %s --ior-file PATH [--non-waiting | --pipelined] [ORB options]\n", argv[0]);
    return 2;
  }
  orbArgs.push_back(nullptr);

  KroKit::ServerProcess process("RelayLabServer");
  return process.Run(orbArgs, [&]() { Serve(process, iorFile); });
}
