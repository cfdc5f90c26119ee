// ServerProcess: the life of a server process around its ORB, in the order
// the library expects: the operation pool is sized, the request
// interceptors are registered, the ORB is initialised (KroSystem::InitOrb,
// which also activates the root POA's manager), the program sets its objects
// up and serves, and at the end the ORB is destroyed (KroSystem::Destroy),
// with the POAs and every servant still active, also after an error.
//
// A whole server, with the factory made by the program:
//
//   KroKit::ServerOptions options;
//   if (!options.ParseOrExplain(argc, argv))
//     return options.UsageStatus();
//   KroKit::ServerProcess process("MyServer");
//   KroKit::ServerProcess::Exit(process.RunObjects<MyRouter>(options));
//
// (each client then gets a MyRouter of its own from an ObjectFactory; Run
// takes any factory).
//
// Run then creates the server-object POA, activates the factory, writes
// its IOR (--ior-file, --print-ior) and/or binds it in a naming service
// (--name-service, --bind), serves with the event threads until it is idle
// or receives SIGINT/SIGTERM, takes its name back, removes its IOR file and
// ends in order. A stop (a signal, or the ORB shut down by someone) first
// refuses new operations, lets running ones end within --drain-seconds and
// cancels the rest, telling their clients (Krovane::ServerStop). Any
// failure (a port that is taken, a file that cannot be written, a naming
// service that cannot be reached) ends it with one line on standard error
// and status 1.
//
// With --journal FILE (RunObjects only), the server objects live on a
// persistent POA and are kept, with their operations, in the journal
// (KroJournal/Journal.h): a server restarted with the same journal on the
// same fixed endpoint (-ORBendPoint giop:tcp:127.0.0.1:PORT) brings them
// back. A journal that cannot be used ends the server with one line and
// status 1.
//
// Programs with more steps use the other Run, which takes the program's
// own set-up as a function; ActivateFactory, Publish and Serve are the
// steps most servers take in it.
//
// Ownership and threads: main owns one and calls everything on its own
// thread. Orb, RootPOA and ServerObjectPOA are valid only inside Run.
#ifndef KROKIT_SERVERPROCESS_H
#define KROKIT_SERVERPROCESS_H

#include "KroKit/ObjectFactory.h"
#include "KroKit/ServerOptions.h"

#include <omniORB4/CORBA.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace KroStatus
{
  class StatusEndpoint;
}

namespace KroJournal
{
  class Journal;
  class JournalActivator;
}

namespace KroKit
{
  class NameBinding;

  class ServerProcess
  {
  public:
    // Which request interceptors the process registers.
    enum Calls
    {
      kServesOnly,        // the server interceptor: every request is recorded
                          // on its server object and runs as its user
      kCallsOtherServers  // that, and the client interceptor: calls to other
                          // servers carry the thread's user and operation
    };

    // Makes the factory servant (new; the process takes over its reference).
    using FactoryMaker = std::function<PortableServer::ServantBase*(ServerProcess&)>;

    // program: the name for the log and the error messages.
    explicit ServerProcess(const std::string& program, Calls calls = kServesOnly);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // The whole life of the server (see above). Returns the exit status:
    // 0, or 1 after an error (printed).
    int Run(const ServerOptions& options, const FactoryMaker& makeFactory);
    // The same with an ObjectFactory<Object>: each client gets an Object.
    template <typename Object>
    int RunObjects(const ServerOptions& options)
    {
      m_makeObject = [](PortableServer::POA_ptr poa) -> PortableServer::ServantBase* { return new Object(poa); };
      return Run(options, [](ServerProcess& process)
                 { return new ObjectFactory<Object>(process.ServerObjectPOA(), process.Journal()); });
    }

    // Registers the interceptors, initialises the ORB with orbArgs (argv[0],
    // the ORB's options, then a null), runs serve, and destroys the ORB.
    // Errors go to standard error, after the program's name. Returns the
    // exit status: 0, or 1 after an error.
    int Run(std::vector<char*>& orbArgs, const std::function<void()>& serve);

    // Ends the process with status, without static destructors: the pool's
    // threads wait for work until the process ends, and some of omniORB's
    // detached threads may still be running ACE's per-thread clean-up,
    // which races with ACE's own clean-up at exit.
    [[noreturn]] static void Exit(int status);

    // Sizes the process's operation pool; before the first router exists
    // (Run(options, ...) does it). std::runtime_error for a refused value.
    static void ConfigurePool(const PoolSettings& pool);

    // The process ORB (not a new reference).
    CORBA::ORB_ptr Orb() const;
    // The root POA (not a new reference).
    PortableServer::POA_ptr RootPOA() const;
    // The POA of the server objects and their relays (see ServerObjectPOA.h;
    // persistent, its objects brought back by the journal, with a journal),
    // created on first use (not a new reference).
    PortableServer::POA_ptr ServerObjectPOA();
    // The journal, inside Run when --journal was given; else null.
    KroJournal::Journal* Journal() const { return m_journal; }

    // Activates factory in the root POA, which then owns a reference of its
    // own, and returns the factory's reference (the caller owns it).
    CORBA::Object_ptr ActivateFactory(PortableServer::ServantBase* factory);
    // Makes the factory reachable: first starts the status endpoint (when
    // options.statusPort is given; a port it cannot take throws before any
    // client can find the factory), binds it as options.bindName in
    // options.nameService (when given) until the process ends, then writes
    // its IOR to options.iorFile (when given; the file appears last) and
    // prints it on standard output when options.printIor.
    // std::runtime_error, saying what failed, on failure.
    void Publish(CORBA::Object_ptr factory, const ServerOptions& options);
    // Serves requests with ServingThreads, as options say, until the ORB is
    // shut down (idle or a signal). Before the ORB goes, new operations are
    // refused, the factory's name is taken back, its IOR file removed, and
    // the operations drained or cancelled (Krovane::ServerStop); in exit
    // modes exit and _exit the idle task ends the process first, and all of
    // that stays. main must have called ServingThreads::PrepareProcess
    // first (Run(options, ...) does).
    void Serve(const ServerOptions& options);

  private:
    // Registers the interceptors and initialises the ORB.
    void Start(std::vector<char*>& orbArgs);
    // Opens options.journal (std::runtime_error, one line, when it cannot be used).
    void OpenJournal(const ServerOptions& options);
    // Destroys the ORB; false (printed) on failure.
    bool Stop();
    // Takes the factory's name back from the naming service, if bound, and
    // removes the IOR file written, if it still holds the factory's IOR.
    void Unpublish();
    // Starts the status endpoint when options ask for it and it has not started.
    void StartStatus(const ServerOptions& options);

    const std::string m_program;     // for the log and the error messages
    const Calls m_calls;             // which interceptors to register
    CORBA::ORB_var m_orb;            // the process ORB, inside Run
    PortableServer::POA_var m_root;  // the root POA, inside Run
    PortableServer::POA_var m_serverObjects;  // the server-object POA, once created
    std::mutex m_publishedLock;        // the shutdown's thread unpublishes; taken alone
    NameBinding* m_binding = nullptr;  // guarded by m_publishedLock; the factory's name while bound; owned
    std::string m_iorFile;             // guarded by m_publishedLock; the IOR file written, until removed
    std::string m_ior;                 // guarded by m_publishedLock; what it holds
    std::unique_ptr<KroStatus::StatusEndpoint> m_status;  // main's thread only; stopped before the ORB
    // Makes a server object for the journal's activator (RunObjects); empty otherwise.
    std::function<PortableServer::ServantBase*(PortableServer::POA_ptr)> m_makeObject;
    // Main's thread sets both before serving. The journal is never deleted:
    // pool threads may still report into it until the process ends.
    KroJournal::Journal* m_journal = nullptr;  // null without --journal
    KroJournal::JournalActivator* m_activator = nullptr;  // the persistent POA's; its reference held
  };
}

#endif
