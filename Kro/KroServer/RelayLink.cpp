#include "KroServer/RelayLink.h"

#include "KroServer/AsynchronousHandler.h"
#include "KroServer/KroServerShutdownTask.h"

#include <utility>

namespace Krovane
{
  namespace
  {
    // The servant behind handler when it is active in poa (held by the
    // result), null otherwise: a reference of another POA or process, an
    // object already deactivated, or a POA that is going.
    PortableServer::Servant LocalServant(IAsyncHandler_ptr handler, PortableServer::POA_ptr poa)
    {
      if (CORBA::is_nil(poa))
        return nullptr;
      try
      {
        return poa->reference_to_servant(handler);
      }
      catch (const CORBA::Exception&)
      {
        return nullptr;
      }
    }
  }

  RelayLink::RelayLink() : m_reference(IAsyncHandler::_nil()), m_relay(nullptr) {}

  RelayLink::RelayLink(IAsyncHandler_ptr handler, PortableServer::POA_ptr poa)
    : m_reference(IAsyncHandler::_duplicate(handler)), m_relay(nullptr)
  {
    if (CORBA::is_nil(handler))
      return;
    PortableServer::ServantBase_var servant = LocalServant(handler, poa);
    m_relay = dynamic_cast<AsynchronousHandler*>(servant.in());
    if (m_relay)
      m_relay->_add_ref();
  }

  RelayLink::RelayLink(AsynchronousHandler& relay) : m_reference(IAsyncHandler::_nil()), m_relay(&relay)
  {
    m_relay->_add_ref();
  }

  RelayLink::RelayLink(const RelayLink& other)
    : m_reference(IAsyncHandler::_duplicate(other.m_reference.in())), m_relay(other.m_relay)
  {
    if (m_relay)
      m_relay->_add_ref();
  }

  RelayLink::RelayLink(RelayLink&& other) noexcept : m_reference(other.m_reference._retn()), m_relay(other.m_relay)
  {
    other.m_relay = nullptr;
  }

  RelayLink& RelayLink::operator=(RelayLink other) noexcept
  {
    Swap(other);
    return *this;
  }

  RelayLink::~RelayLink()
  {
    if (m_relay)
      m_relay->_remove_ref();
  }

  void RelayLink::Swap(RelayLink& other) noexcept
  {
    IAsyncHandler_ptr reference = m_reference._retn();
    m_reference = other.m_reference._retn();
    other.m_reference = reference;
    std::swap(m_relay, other.m_relay);
  }

  bool RelayLink::IsEmpty() const { return !m_relay && CORBA::is_nil(m_reference.in()); }

  bool RelayLink::IsDirect() const { return m_relay != nullptr; }

  IAsyncHandler_ptr RelayLink::Reference() const
  {
    if (m_relay && CORBA::is_nil(m_reference.in()))
      return m_relay->OwnReference();
    return m_reference.in();
  }

  void RelayLink::DeactivateIn(PortableServer::POA_ptr poa) const
  {
    if (m_relay && m_relay->DeactivateIn(poa))
      return;
    // A link made from the relay itself has no reference of its own; asking
    // the relay for one would activate it only to find it is not poa's.
    if (CORBA::is_nil(m_reference.in()))
      throw PortableServer::POA::WrongAdapter();
    PortableServer::ObjectId_var id = poa->reference_to_id(m_reference.in());
    poa->deactivate_object(id.in());
  }

  template <typename Direct, typename Remote>
  void RelayLink::Call(Direct direct, Remote remote) const
  {
    if (m_relay)
    {
      // What the relay's upcall would have told the idle watch.
      KroServerShutdownTask::OperationCalled();
      try
      {
        direct(m_relay);
      }
      catch (const CORBA::Exception&)
      {
        throw;
      }
      catch (...)
      {
        // The ORB hands a servant's C++ exception to its caller so.
        throw CORBA::UNKNOWN(0, CORBA::COMPLETED_MAYBE);
      }
    }
    else if (!CORBA::is_nil(m_reference.in()))
      remote(m_reference.in());
  }

  void RelayLink::Queued(CORBA::Long position) const
  {
    Call([position](AsynchronousHandler* relay) { relay->Queued(position); },
         [position](IAsyncHandler_ptr handler) { handler->Queued(position); });
  }

  void RelayLink::Status(const char* text) const
  {
    Call([text](AsynchronousHandler* relay) { relay->Status(text); },
         [text](IAsyncHandler_ptr handler) { handler->Status(text); });
  }

  void RelayLink::Progress(CORBA::Double progress) const
  {
    Call([progress](AsynchronousHandler* relay) { relay->Progress(progress); },
         [progress](IAsyncHandler_ptr handler) { handler->Progress(progress); });
  }

  void RelayLink::Results(const CORBA::Any& data) const
  {
    Call([&data](AsynchronousHandler* relay) { relay->Results(data); },
         [&data](IAsyncHandler_ptr handler) { handler->Results(data); });
  }

  void RelayLink::Finished(const CORBA::Any& data) const
  {
    Call([&data](AsynchronousHandler* relay) { relay->Finished(data); },
         [&data](IAsyncHandler_ptr handler) { handler->Finished(data); });
  }

  void RelayLink::Error(IAsyncExceptionHolder_ptr holder) const
  {
    Call([holder](AsynchronousHandler* relay) { relay->Error(holder); },
         [holder](IAsyncHandler_ptr handler) { handler->Error(holder); });
  }
}
