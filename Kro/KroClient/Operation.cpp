#include "KroClient/Operation.h"

#include "KroClient/OperationCore.h"

namespace KroClient
{
  Operation::Operation(std::shared_ptr<OperationCore> core) : m_core(std::move(core)) {}

  Operation::~Operation()
  {
    if (m_core)
      m_core->Close();
  }

  Operation::Operation(Operation&& other) noexcept = default;

  Operation& Operation::operator=(Operation&& other) noexcept
  {
    if (this != &other)
    {
      if (m_core)
        m_core->Close();
      m_core = std::move(other.m_core);
    }
    return *this;
  }

  CORBA::Long Operation::Id() const { return m_core->Id(); }

  Outcome Operation::Wait(Deadline deadline) const
  {
    const Outcome outcome = WaitForEnd(deadline);
    if (outcome == Outcome::Failed)
    {
      Krovane::IAsyncExceptionHolder_var failure = Failure();
      Raise(failure.in());
    }
    return outcome;
  }

  Outcome Operation::WaitForEnd(Deadline deadline) const { return m_core->Record().WaitForEnd(deadline); }

  bool Operation::WaitForProgress(double done, Deadline deadline) const
  {
    return m_core->Record().WaitForProgress(done, deadline);
  }

  bool Operation::WaitForCallbacks(std::size_t count, Deadline deadline) const
  {
    return m_core->Sequencer().WaitForPosted(count, deadline);
  }

  bool Operation::Cancel() const
  {
    if (m_core->Record().Now() != Outcome::Pending)
      return false;
    Krovane::IAsyncServer_ptr server = m_core->Server();
    try
    {
      server->CancelOperation(m_core->Id());
      return true;
    }
    catch (const Krovane::InvalidOperationId&)
    {
      // The server only cancels operations that have not ended; one that
      // has just ended still has a state there.
      server->GetOperationState(m_core->Id());
      return false;
    }
  }

  Outcome Operation::Now() const { return m_core->Record().Now(); }
  CORBA::Long Operation::Place() const { return m_core->Record().Place(); }
  std::string Operation::Status() const { return m_core->Record().Status(); }
  double Operation::Progress() const { return m_core->Record().Progress(); }
  CORBA::Any Operation::Results() const { return m_core->Record().Results(); }
  Krovane::IAsyncExceptionHolder_ptr Operation::Failure() const { return m_core->Record().Failure(); }

  void Operation::Raise(Krovane::IAsyncExceptionHolder_ptr holder)
  {
    if (CORBA::is_nil(holder))
      throw CORBA::BAD_PARAM();
    holder->raise();
    throw CORBA::UNKNOWN();  // raise() is to throw; it did not
  }
}
