// ClientSession: what one client thread of the benchmark works with: its
// own server object and callback object, and the operation it repeats (a
// job submitted and finished, or a ping).
//
// Ownership: each client thread owns one. Threads: one thread at a time.
#ifndef KRO_BENCH_CLIENTSESSION_H
#define KRO_BENCH_CLIENTSESSION_H

namespace KroBench
{
  class ClientSession
  {
  public:
    virtual ~ClientSession() = default;
    // One operation, from the request to its last callback; false when it failed.
    virtual bool Operation() = 0;
    // The server's pool threads, or -1 when it does not tell.
    virtual int PoolThreads() { return -1; }
  };
}

#endif
