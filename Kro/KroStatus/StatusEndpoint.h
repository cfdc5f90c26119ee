// StatusEndpoint: a server's status over HTTP, for operators, switched on
// with one object:
//
//   KroStatus::StatusEndpoint status(orb, "127.0.0.1", 8089);  // serves until destroyed
//
//   GET /metrics         Prometheus text (kro_* metrics)
//   GET /healthz         200 "ok" while the ORB runs, the pool can take work and
//                        no shutdown has begun; 503 "shutting down" after
//   GET /api/operations  JSON of the live and recently ended operations (at
//                        most Settings::operationsShown, long texts cut)
//   GET /                the live operations page
// Any other path is 404; any method but GET (and HEAD) is 405. Nothing
// changes the server's state. Starting it switches the OperationRegistry on.
//
// Hostile clients: served by libmicrohttpd from one event loop, so a silent
// or trickling connection holds up nobody else. A request line with its
// headers must fit connectionMemory (else 431 and the connection closes);
// a whole request, from the connection's open or the end of its previous
// reply to the end of its reply, gets requestSeconds; a connection idle
// keepAliveSeconds is closed; beyond maxConnections the oldest connection
// makes room for the newest, so a health check always gets in. No ranges
// are served (every reply is whole). The port is taken exclusively (no
// SO_REUSEPORT): a port another process holds is refused.
//
// Threads: one of its own (the event loop); the ORB and the pool are never
// held up (the endpoint only reads atomics and takes the registry's and the
// object table's short locks).
//
// Ownership: the creator owns it; the ORB reference is duplicated. Construct
// and destroy it on one thread; the destructor closes every connection and
// joins the loop.
#ifndef KROSTATUS_STATUSENDPOINT_H
#define KROSTATUS_STATUSENDPOINT_H

#include <omniORB4/CORBA.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <thread>

struct MHD_Daemon;

namespace KroStatus
{
  class ConnectionDeadlines;

  class StatusEndpoint
  {
  public:
    struct Settings
    {
      int maxConnections = 64;                // open at once; the oldest goes for a newer one
      int requestSeconds = 5;                 // for a whole request and its reply
      int keepAliveSeconds = 2;               // a connection may sit idle this long
      std::size_t connectionMemory = 16384;   // bytes for a request line and its headers
      std::size_t operationsShown = 500;      // most operations in one /api/operations reply
      std::size_t textShown = 256;            // longer names, users and statuses are cut
      std::size_t finishedKept = 200;         // recently ended operations kept
    };

    // Listens on address:port (port 0: any free port; see Port). Throws
    // std::runtime_error, saying why, when it cannot listen there.
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
    struct Reply;
    // The reply to one request (runs on the loop thread).
    Reply Answer(const std::string& method, const std::string& url) const;
    // Serves until m_stop is set (the loop thread's body).
    void Loop();

    // libmicrohttpd's callbacks, all on the loop thread.
    struct Callbacks;
    friend struct Callbacks;

    CORBA::ORB_var m_orb;                               // the process's ORB
    const std::string m_address;                        // listened on
    const Settings m_settings;                          // fixed at construction
    int m_port = 0;                                     // listened on
    int m_wake[2] = {-1, -1};                           // a pipe: written to end the loop
    std::unique_ptr<ConnectionDeadlines> m_deadlines;   // used by the loop thread only
    MHD_Daemon* m_daemon = nullptr;                     // owned; stopped after the loop ends
    std::atomic<bool> m_stop{false};                    // set by the destructor
    std::thread m_loop;                                 // the event loop
  };
}

#endif
