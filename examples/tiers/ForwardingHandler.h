// ForwardingHandler: the front end's handler for one operation it has
// forwarded to a back end. It passes the back end's Status, Progress,
// Results and Error on to the client's handler (the front operation's
// relay) and notes the back end's Finished, which the front end waits for;
// the client gets its own Finished when the front operation ends. Queued
// places in the back end's queue mean nothing to the client and are
// dropped.
//
// Ownership: reference counted; the front-end router creates one per
// forwarded operation and keeps it active while it waits (see
// ActiveForwarder). It holds a reference to the client's handler.
// Threads: the back end's callbacks on ORB threads; WaitForFinished on the
// pool thread that runs the operation.
#ifndef KRO_EXAMPLES_TIERS_FORWARDINGHANDLER_H
#define KRO_EXAMPLES_TIERS_FORWARDINGHANDLER_H

#include "AsyncHandlerServant.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace KroTiers
{
  class ForwardingHandler : public KroExample::AsyncHandlerServant
  {
  public:
    // client: where the callbacks go (a duplicate is kept; nil drops them).
    explicit ForwardingHandler(Krovane::IAsyncHandler_ptr client);

    // Whether the back end's Finished came within timeout.
    bool WaitForFinished(std::chrono::milliseconds timeout);
    // Whether the back end's Results have been passed on to the client.
    bool ResultsForwarded();

    // IAsyncHandler (the Sync forms come here through AsyncHandlerServant)
    void Queued(CORBA::Long position) override;
    void Status(const char* text) override;
    void Progress(CORBA::Double progress) override;
    void Results(const CORBA::Any& data) override;
    void Finished(const CORBA::Any& data) override;
    void Error(Krovane::IAsyncExceptionHolder_ptr holder) override;

  private:
    const Krovane::IAsyncHandler_var m_client;  // the client's handler (its relay)
    std::mutex m_lock;                          // guards m_finished and m_resultsForwarded
    std::condition_variable m_finishedChanged;  // signalled when Finished comes
    bool m_finished = false;                    // guarded by m_lock; the back end said Finished
    bool m_resultsForwarded = false;            // guarded by m_lock; the client has the results
  };

  // A ForwardingHandler active in a POA for a scope, under an id that cannot
  // be guessed (the back end alone is given its reference), then deactivated.
  class ActiveForwarder
  {
  public:
    ActiveForwarder(PortableServer::POA_ptr poa, Krovane::IAsyncHandler_ptr client);
    ~ActiveForwarder();
    ActiveForwarder(const ActiveForwarder&) = delete;
    ActiveForwarder& operator=(const ActiveForwarder&) = delete;

    ForwardingHandler& Servant() { return *m_servant; }
    // Its reference, for the back end (not a new reference).
    Krovane::IAsyncHandler_ptr Reference() const { return m_reference.in(); }

  private:
    PortableServer::POA_var m_poa;              // where it is active
    ForwardingHandler* m_servant;               // owned through m_ownership
    PortableServer::ServantBase_var m_ownership;  // our servant reference
    PortableServer::ObjectId_var m_id;          // its id in m_poa
    Krovane::IAsyncHandler_var m_reference;     // its reference
  };
}

#endif
