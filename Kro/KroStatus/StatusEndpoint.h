// StatusEndpoint: a server's status over HTTP, for operators, switched on
// with one object:
//
//   KroStatus::StatusEndpoint status(orb, "127.0.0.1", 8089);  // serves until destroyed
//
//   GET /metrics         Prometheus text (kro_* metrics)
//   GET /healthz         200 "ok" while the ORB runs, the pool can take work and
//                        no shutdown has begun; 503 "shutting down" after
//   GET /api/operations  JSON of the live and recently ended operations
//   GET /                the live operations page
// Any other path is 404; any method but GET (and HEAD) is 405. Nothing
// changes the server's state. Starting it switches the OperationRegistry on.
//
// Threads: its own, bounded: one listener and Settings::threads workers.
// A worker serves one connection at a time; a connection that sends
// nothing is dropped after keepAliveSeconds, a slow request or reply after
// ioTimeoutSeconds. More idle connections than workers therefore delay
// other callers by at most those time-outs; the ORB and the pool are never
// held up (the endpoint only reads atomics and takes the registry's and the
// object table's short locks).
//
// Ownership: the creator owns it; the ORB reference is duplicated. Construct
// and destroy it on one thread; the destructor stops the listener and joins
// every thread.
#ifndef KROSTATUS_STATUSENDPOINT_H
#define KROSTATUS_STATUSENDPOINT_H

#include <omniORB4/CORBA.h>

#include <future>
#include <memory>
#include <string>
#include <thread>

namespace httplib
{
  class Server;
}

namespace KroStatus
{
  class StatusEndpoint
  {
  public:
    struct Settings
    {
      int threads = 4;                 // HTTP worker threads
      int ioTimeoutSeconds = 2;        // to read a request, or to write a reply
      int keepAliveSeconds = 2;        // a connection may sit idle this long
      int keepAliveMaxRequests = 50;   // requests per connection
      std::size_t finishedKept = 200;  // recently ended operations kept
    };

    // Listens on address:port (port 0: any free port; see Port). Throws
    // std::runtime_error when it cannot listen there.
    StatusEndpoint(CORBA::ORB_ptr orb, const std::string& address, int port);
    StatusEndpoint(CORBA::ORB_ptr orb, const std::string& address, int port, const Settings& settings);
    ~StatusEndpoint();
    StatusEndpoint(const StatusEndpoint&) = delete;
    StatusEndpoint& operator=(const StatusEndpoint&) = delete;

    // The port listened on.
    int Port() const { return m_port; }
    // "http://ADDRESS:PORT/".
    std::string Url() const;

  private:
    // Routes every path and method.
    void Route();

    CORBA::ORB_var m_orb;                        // the process's ORB
    const std::string m_address;                 // listened on
    std::unique_ptr<httplib::Server> m_server;   // the HTTP server
    int m_port = 0;                              // listened on
    std::promise<void> m_listenerEnd;            // set by the listener as it ends
    std::thread m_listener;                      // accepts connections
  };
}

#endif
