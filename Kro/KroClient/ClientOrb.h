// ClientOrb: a client process's ORB, ready for callbacks: initialised from
// the command line (its -ORB options), the root POA's manager active. With
// omniORB that is all it takes for handlers to be served: the ORB's own
// threads take incoming calls without ORB::run. Calls time out after 30 s
// (TIMEOUT) unless -ORBclientCallTimeOutPeriod says otherwise, so that no
// call waits for ever on a stopped server.
//
// Ownership: one per process, for as long as the ORB is used; the
// destructor destroys the ORB (and deactivates every handler still active).
// Threads: created and destroyed by one thread; the rest from any.
#ifndef KROCLIENT_CLIENTORB_H
#define KROCLIENT_CLIENTORB_H

#include <omniORB4/CORBA.h>

#include <stdexcept>
#include <string>

namespace KroClient
{
  class ClientOrb
  {
  public:
    // ORB_init(argc, argv), which takes the -ORB options out of argv.
    ClientOrb(int& argc, char** argv);
    ~ClientOrb();

    ClientOrb(const ClientOrb&) = delete;
    ClientOrb& operator=(const ClientOrb&) = delete;

    CORBA::ORB_ptr Orb() const;           // not a new reference
    PortableServer::POA_ptr Poa() const;  // the root POA, where handlers go

    // The object named by where: a reference (IOR:, corbaloc:, corbaname:)
    // or a file holding one. A new reference. Throws std::runtime_error
    // when where names nothing of that interface.
    CORBA::Object_ptr ObjectAt(const std::string& where) const;
    template <typename Interface>
    typename Interface::_ptr_type Resolve(const std::string& where) const
    {
      CORBA::Object_var object = ObjectAt(where);
      typename Interface::_ptr_type reference = Interface::_narrow(object.in());
      if (CORBA::is_nil(reference))
        throw std::runtime_error(where + " is not a " + Interface::_PD_repoId);
      return reference;
    }

  private:
    CORBA::ORB_var m_orb;            // the process's ORB
    PortableServer::POA_var m_poa;   // its root POA
  };
}

#endif
