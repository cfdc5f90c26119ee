// The servants of the probe server: a factory of probe objects, the probe
// object (a server object of the family that reports, in its answers and in
// the log, what the request interceptors did to its request's thread), and
// a stand-in exception holder.
//
// All are reference counted and owned by their POA once active; any ORB
// request thread may call them.
#ifndef KRO_TESTS_PROCESS_PROBESERVANTS_H
#define KRO_TESTS_PROCESS_PROBESERVANTS_H

#include "Probe.hh"
#include "ProbeText.h"

#include "KroServer/ServerFactoryImpl.h"
#include "KroServer/SyncServerImpl.h"

#include <atomic>
#include <functional>
#include <string>

namespace KroProbe
{
  // Opens the idle-shutdown task when a client asks for it; set by main
  // before the factory is published, empty when the server was not started
  // with --idle-on-request.
  void SetIdleShutdownStarter(std::function<void()> starter);

  class ProbeFactory : public Krovane::ServerFactoryImpl
  {
  public:
    explicit ProbeFactory(PortableServer::POA_ptr serverObjectPOA);

    // A ProbeObject working for token, active and in the object table.
    Krovane::ISyncServer_ptr CreateObject(const Krovane::UserToken& token) override;
  };

  class ProbeObject : public virtual POA_KroProbe::IProbe, public Krovane::SyncServerImpl
  {
  public:
    // Keeps the list of its running requests.
    explicit ProbeObject(PortableServer::POA_ptr poa);
    ~ProbeObject() override;

    // Raises std::runtime_error or CORBA::NO_PERMISSION as RefuseUserPacket
    // asked.
    const Halvern_Utilities::UserPacket& GetUserPacket() const override;
    // As in SyncServerImpl; after DeactivateOnRemove, also deactivates itself.
    void Remove() override;

    // IProbe
    void ping() override;
    char* UserTokenSeen() override;
    CORBA::Long NumOperationsSeen() override;
    void Work(CORBA::Long maxMilliseconds) override;
    void ReleaseWork() override;
    void Fail(const char* reason) override;
    Krovane::IAsyncExceptionHolder_ptr CreateExceptionHolder(const char* reason) override;
    char* CallOther(KroProbe::IProbe_ptr other) override;
    void DeactivateOnRemove() override;
    void Deactivate() override;
    void RefuseUserPacket(const char* how) override;
    void StartIdleShutdown() override;

  private:
    // This object's id in its POA.
    PortableServer::ObjectId* OwnId();

    std::atomic<bool> m_deactivateOnRemove;  // set by DeactivateOnRemove
    std::atomic<int> m_refuseUserPacket;     // set by RefuseUserPacket: 0 no, 1 std, 2 CORBA
  };

  class ProbeExceptionHolder : public virtual POA_Krovane::IAsyncExceptionHolder,
                               public virtual PortableServer::RefCountServantBase
  {
  public:
    explicit ProbeExceptionHolder(const std::string& reason);
    ~ProbeExceptionHolder() override;

    // Logs the thread's user token and current operation, then raises
    // SysException with the reason.
    void raise() override;

  private:
    const std::string m_reason;  // what raise() reports
  };
}

#endif
