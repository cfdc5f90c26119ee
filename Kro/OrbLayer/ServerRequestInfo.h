// ServerRequestInfo: what a server interceptor may learn of the request in
// progress. Lives on the upcall thread's stack for one upcall; valid only
// inside the interceptor calls it is given to.
#ifndef KRO_ORBLAYER_SERVERREQUESTINFO_H
#define KRO_ORBLAYER_SERVERREQUESTINFO_H

#include <omniORB4/CORBA.h>

class omniCallDescriptor;
class omniServant;

namespace PortableInterceptor
{
  class ServerRequestInfo
  {
  public:
    ServerRequestInfo(const char* operation, omniServant* servant);

    // The IDL operation's name; the caller frees it.
    char* operation() const;
    // The same, without a copy; valid for the upcall.
    const char* operation_name() const { return m_operation; }

    // The target, through the POA current of the upcall: its POA, its object
    // id, its reference and its servant (new references / copies, owned by
    // the caller).
    PortableServer::POA_ptr target_poa() const;
    PortableServer::ObjectId* object_id() const;
    CORBA::Object_ptr target() const;
    PortableServer::Servant servant() const;
    // The servant of the upcall, without asking the POA current: no new
    // reference, valid for the upcall; null when the ORB's servant is no
    // PortableServer servant.
    PortableServer::Servant upcall_servant() const;
    // The ORB's own servant of the upcall, as it was given (no cast); valid
    // for the upcall. Null where omniORB's internals were not checked
    // (OrbInternals.h): the caller then asks the POA current.
    omniServant* orb_servant() const;
    // Whether servant, the target's, is still active in the target's POA
    // (it is not once deactivate_object was called for it).
    bool servant_active(PortableServer::Servant servant) const;

    // In send_exception: the exception being sent (a servant's C++
    // exception appears as CORBA::UNKNOWN); null elsewhere.
    const CORBA::Exception* sending_exception() const { return m_exception; }
    void sending_exception(const CORBA::Exception* exception) { m_exception = exception; }

  private:
    const char* m_operation;              // the operation's name
    omniServant* m_servant;               // the servant of the upcall
    const CORBA::Exception* m_exception;  // set for send_exception
  };

  typedef ServerRequestInfo* ServerRequestInfo_ptr;
}

#endif
