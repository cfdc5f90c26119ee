// ServerProcess: the life of a server process around its ORB, in the order
// the library expects: the request interceptors are registered, the ORB is
// initialised (KroSystem::InitOrb), the program sets its objects up and
// serves, and at the end the ORB is destroyed (KroSystem::Destroy), with
// the POAs and every servant still active, also after an error.
//
// Run takes the program's own set-up as a function; ActivateFactory,
// Publish and Serve are the steps most servers take in it:
//
//   KroExample::ServerProcess process("KroExampleSyncServer");
//   return process.Run(options.orbArgs, [&]()
//   {
//     ...the server-object POA and the factory...
//     CORBA::Object_var factory = process.ActivateFactory(servant.in());
//     process.Publish(factory.in(), options);
//     process.Serve(options);
//   });
//
// Ownership and threads: main owns one and calls everything on its own
// thread. Orb and RootPOA are valid only inside Run.
#ifndef KRO_EXAMPLES_SERVERPROCESS_H
#define KRO_EXAMPLES_SERVERPROCESS_H

#include "ServerOptions.h"

#include <omniORB4/CORBA.h>

#include <functional>
#include <string>
#include <vector>

namespace KroExample
{
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

    // program: the name for the log and the error messages.
    explicit ServerProcess(const std::string& program, Calls calls = kServesOnly);
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Registers the interceptors, initialises the ORB with orbArgs (argv[0],
    // the ORB's options, then a null), runs serve, and destroys the ORB.
    // Errors go to standard error, after the program's name. Returns the
    // exit status: 0, or 1 after an error.
    int Run(std::vector<char*>& orbArgs, const std::function<void()>& serve);

    // The process ORB (not a new reference).
    CORBA::ORB_ptr Orb() const;
    // The root POA (not a new reference).
    PortableServer::POA_ptr RootPOA() const;

    // Activates factory in the root POA, which then owns a reference of its
    // own, and returns the factory's reference (the caller owns it).
    CORBA::Object_ptr ActivateFactory(PortableServer::ServantBase* factory);
    // Makes the factory reachable: writes its IOR to options.iorFile (when
    // given), and prints it on standard output when options.printIor.
    void Publish(CORBA::Object_ptr factory, const ServerOptions& options);
    // Serves requests with ServingThreads, as options say, until the ORB is
    // shut down (idle or a signal). main must have called
    // ServingThreads::PrepareProcess first.
    void Serve(const ServerOptions& options);

  private:
    // Registers the interceptors and initialises the ORB.
    void Start(std::vector<char*>& orbArgs);
    // Destroys the ORB; false (printed) on failure.
    bool Stop();

    const std::string m_program;     // for the log and the error messages
    const Calls m_calls;             // which interceptors to register
    CORBA::ORB_var m_orb;            // the process ORB, inside Run
    PortableServer::POA_var m_root;  // the root POA, inside Run
  };
}

#endif
