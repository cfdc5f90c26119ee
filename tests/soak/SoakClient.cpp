#include "SoakClient.h"

#include "OperationStateName.h"
#include "KroClient/FailureText.h"
#include "KroKit/UserTokenText.h"
#include "support/ProcessHarness.h"

#include <cstdio>
#include <cstring>
#include <thread>

namespace KroSoak
{
  namespace
  {
    using Clock = std::chrono::steady_clock;
    using std::chrono::milliseconds;
    using std::chrono::seconds;

    const seconds kEndWait(60);          // the longest an operation may take to end once asked
    const seconds kRemoveWait(10);       // the longest Remove may be refused after every operation ended
    const milliseconds kRecheck(50);     // between state reads while waiting (or sooner, on a callback)
    const int kLongestSteps = 8;         // steps of a computation (a step is --step-ms on the server)
    const milliseconds kLongestPause(15);  // between two random requests

    const milliseconds kLossSlack(3000);  // beyond the loss bound, for a loaded machine

    // The server does not answer at all: nothing more to check here.
    struct ServerGone
    {
    };

    const char* PointName(CancelPoint point)
    {
      switch (point)
      {
      case CancelPoint::None: return "none";
      case CancelPoint::FirstProgress: return "first Progress";
      case CancelPoint::LastProgress: return "last Progress";
      case CancelPoint::LastProgressAll: return "last Progress (all)";
      case CancelPoint::Results: return "Results";
      }
      return "?";
    }

    bool Ended(Krovane::OperationState state)
    {
      return state == Krovane::Finished || state == Krovane::Cancelled;
    }

    // A failure text (Describe's) that says the server is gone.
    bool LostServerFailure(const std::string& failure)
    {
      for (const char* name : {"TRANSIENT", "COMM_FAILURE", "TIMEOUT", "OBJECT_NOT_EXIST"})
        if (failure.compare(0, std::strlen(name), name) == 0)
          return true;
      return false;
    }

    std::string Describe(const CORBA::SystemException& ex)
    {
      return std::string(ex._name()) + " (minor " + std::to_string(ex.minor()) + ")";
    }
  }

  SoakClient::SoakClient(CORBA::ORB_ptr orb, const ClientOptions& options)
    : m_orb(CORBA::ORB::_duplicate(orb)), m_options(options), m_random(options.seed)
  {
    CORBA::Object_var object = m_orb->resolve_initial_references("RootPOA");
    m_root = PortableServer::POA::_narrow(object.in());
    PortableServer::POAManager_var manager = m_root->the_POAManager();
    manager->activate();
    if (!options.ior.empty())
    {
      object = m_orb->string_to_object(options.ior.c_str());
      m_factory = Krovane::IServerFactory::_narrow(object.in());
    }
  }

  int SoakClient::Random(int low, int high)
  {
    return std::uniform_int_distribution<int>(low, high)(m_random);
  }

  std::string SoakClient::Where(const CalculatorUse& use, const OperationRecord* operation) const
  {
    std::string where = m_options.name + " calculator " + std::to_string(use.number);
    if (operation)
      where += " operation " + std::to_string(operation->id);
    return where;
  }

  void SoakClient::Note(OperationRecord& operation, const std::string& event) const
  {
    const long long ms = std::chrono::duration_cast<milliseconds>(Clock::now() - m_started).count();
    operation.timeline += "\n    " + std::to_string(ms) + " ms " + event;
  }

  std::string SoakClient::Timeline(CalculatorUse& use, const OperationRecord& operation) const
  {
    auto at = [this](const std::optional<Clock::time_point>& when) {
      return when ? std::to_string(std::chrono::duration_cast<milliseconds>(*when - m_started).count()) + " ms"
                  : std::string("-");
    };
    std::string text = "\n  timeline (client's clock):" + operation.timeline;
    text += "\n    submitted at " + at(operation.submitted);
    text += "\n  callback cancels of this calculator:";
    for (OperationRecord& other : use.operations)
      for (std::size_t i = 0; i < other.handlers.size(); ++i)
      {
        const SoakHandler::Seen seen = HandlerAt(other, i).Read();
        if (seen.armed == CancelPoint::None)
          continue;
        text += "\n    operation " + std::to_string(other.id) + " handler " + std::to_string(i) + " armed at " +
                PointName(seen.armed) + (seen.cancelled ? ", fired " + at(seen.cancelStarted) + " .. " +
                                                            at(seen.cancelReturned)
                                                        : std::string(", not fired")) +
                (i < other.taken.size() && other.taken[i] ? ", taken in" : "");
      }
    return text;
  }

  template <typename Call>
  bool SoakClient::Checked(const std::string& where, const char* what, Call call)
  {
    const char* lostAs = nullptr;  // the failure's name, when it says the server is gone
    std::string text;
    bool gone = false;
    try
    {
      call();
      m_lastAnswer = Clock::now();
      return true;
    }
    catch (const CORBA::TRANSIENT& ex)
    {
      lostAs = "server-unreachable", text = KroClient::UnreachableText(ex);
    }
    catch (const CORBA::COMM_FAILURE& ex)
    {
      lostAs = "server-unreachable", text = KroClient::UnreachableText(ex);
    }
    catch (const CORBA::TIMEOUT& ex)
    {
      lostAs = m_options.lossBoundMs > 0 ? "server-unreachable" : nullptr, text = KroClient::UnreachableText(ex);
    }
    catch (const CORBA::OBJECT_NOT_EXIST& ex)
    {
      lostAs = m_options.lossBoundMs > 0 ? "server-gone" : nullptr, text = KroClient::UnreachableText(ex);
      gone = true;
    }
    catch (const CORBA::SystemException& ex)
    {
      text = Describe(ex);
    }
    if (!lostAs)
    {
      m_findings.Violation("call-raised", where, std::string(what) + " raised " + text);
      return false;
    }
    if (m_options.lossBoundMs > 0)
      throw ServerLost{text, gone};
    m_findings.Violation(lostAs, where, std::string(what) + " raised " + text);
    throw ServerGone();
  }

  Calculator::ICalculator_ptr SoakClient::NewCalculator(const std::string& where)
  {
    // A restart takes a few seconds; a server away much longer is a finding.
    const Clock::time_point deadline = Clock::now() + 3 * milliseconds(m_options.lossBoundMs);
    std::string lastFailure;
    for (;;)
    {
      try
      {
        if (CORBA::is_nil(m_factory.in()) && !m_options.iorFile.empty())
        {
          CORBA::Object_var object = m_orb->string_to_object(KroTest::ReadFileText(m_options.iorFile).c_str());
          m_factory = Krovane::IServerFactory::_narrow(object.in());
        }
        Calculator::ICalculator_var calculator;
        if (Checked(where, "CreateObject", [&] {
              Krovane::ISyncServer_var server = m_factory->CreateObject(KroKit::TokenFromText(m_options.name));
              calculator = Calculator::ICalculator::_narrow(server.in());
            }))
          return calculator._retn();
        return Calculator::ICalculator::_nil();
      }
      catch (const ServerLost& lost)
      {
        lastFailure = lost.text;
      }
      catch (const std::exception& ex)  // the IOR file, between a kill and the restart
      {
        lastFailure = ex.what();
      }
      catch (const CORBA::Exception& ex)  // an IOR read half written
      {
        lastFailure = ex._name();
      }
      if (!m_options.iorFile.empty())
        m_factory = Krovane::IServerFactory::_nil();
      if (Clock::now() > deadline)
      {
        m_findings.Violation("server-unreachable", where,
                             "no calculator for " + std::to_string(3 * m_options.lossBoundMs) + " ms: " + lastFailure);
        return Calculator::ICalculator::_nil();
      }
      // Pacing of the tries while the server restarts.
      m_activity.WaitFor(milliseconds(100));
    }
  }

  void SoakClient::EndFailed(CalculatorUse& use, OperationRecord& operation, const ServerLost& lost)
  {
    operation.failure = lost.text;
    Note(operation, "ended Failed: " + lost.text);
    ++(lost.gone ? m_stats.failedGone : m_stats.failedUnreachable);
    // The client library's rule, with a little room for a loaded machine.
    const milliseconds late = std::chrono::duration_cast<milliseconds>(Clock::now() - m_lastAnswer);
    if (late > milliseconds(m_options.lossBoundMs) + kLossSlack)
      m_findings.Violation("ended-late", Where(use, &operation),
                           "ended Failed " + std::to_string(late.count()) + " ms after the server's last answer" +
                             Timeline(use, operation));
  }

  SoakHandler& SoakClient::HandlerAt(OperationRecord& operation, std::size_t index) const
  {
    return *dynamic_cast<SoakHandler*>(operation.handlers[index].in());
  }

  Krovane::IAsyncHandler_ptr SoakClient::NewHandler(OperationRecord& operation)
  {
    SoakHandler* handler = new SoakHandler(m_activity, Random(0, 99) < m_options.refusingPercent);
    operation.handlers.emplace_back(handler);  // takes the creation reference
    PortableServer::ObjectId_var id = m_root->activate_object(handler);
    CORBA::Object_var object = m_root->id_to_reference(id.in());
    return Krovane::IAsyncHandler::_narrow(object.in());
  }

  void SoakClient::Submit(CalculatorUse& use)
  {
    OperationRecord operation;
    Krovane::IAsyncHandler_var handler = NewHandler(operation);
    static const char* const kinds[] = {"pi", "e", "primes"};
    const char* what = kinds[Random(0, 2)];
    // Now and then a bad request: reported through Error, then Finished.
    const CORBA::Long steps = Random(0, 99) < 5 ? 0 : Random(1, kLongestSteps);
    operation.submitted = Clock::now();
    if (Checked(Where(use), "Compute",
                [&] { operation.id = use.calculator->Compute(what, steps, handler.in()); }))
    {
      ++m_stats.operations;
      // Some cancel themselves where the cancel meets the end of the work.
      const int point = Random(0, 99);
      const CancelPoint cancelPoint = point < 12   ? CancelPoint::LastProgress
                                      : point < 20 ? CancelPoint::Results
                                      : point < 25 ? CancelPoint::FirstProgress
                                      : point < 28 ? CancelPoint::LastProgressAll
                                                   : CancelPoint::None;
      if (cancelPoint != CancelPoint::None)
        HandlerAt(operation, 0).Arm(use.calculator.in(), operation.id, cancelPoint);
      Note(operation, "Compute returned id " + std::to_string(operation.id) + " (" + std::to_string(steps) +
                        " steps), handler armed at " + PointName(cancelPoint));
      use.operations.push_back(std::move(operation));
    }
  }

  void SoakClient::CancelOne(CalculatorUse& use, OperationRecord& operation)
  {
    ++m_stats.cancels;
    operation.cancelRequested = true;  // asked, whatever the answer
    Note(operation, "CancelOperation");
    Checked(Where(use, &operation), "CancelOperation", [&] {
      try
      {
        use.calculator->CancelOperation(operation.id);
      }
      catch (const Krovane::InvalidOperationId&)
      {
        // Already ended: nothing to cancel.
      }
    });
  }

  void SoakClient::ReattachOne(CalculatorUse& use, OperationRecord& operation)
  {
    ++m_stats.reattaches;
    Krovane::IAsyncHandler_var handler = NewHandler(operation);
    Checked(Where(use, &operation), "RegisterNewHandler", [&] {
      try
      {
        use.calculator->RegisterNewHandler(operation.id, handler.in());
      }
      catch (const Krovane::InvalidOperationId&)
      {
        m_findings.Violation("unknown-id", Where(use, &operation), "RegisterNewHandler raised InvalidOperationId");
      }
    });
  }

  void SoakClient::CancelAll(CalculatorUse& use)
  {
    ++m_stats.cancelAlls;
    for (OperationRecord& operation : use.operations)
    {
      operation.cancelRequested = true;
      Note(operation, "CancelAllOperations");
    }
    Checked(Where(use), "CancelAllOperations", [&] { use.calculator->CancelAllOperations(); });
  }

  void SoakClient::Vanish(OperationRecord& operation)
  {
    ++m_stats.vanished;
    operation.vanished = true;
    try
    {
      PortableServer::ObjectId_var id = m_root->servant_to_id(operation.handlers.back().in());
      m_root->deactivate_object(id.in());
    }
    catch (const CORBA::Exception& ex)
    {
      m_findings.Violation("soak-setup", m_options.name, std::string("deactivating a handler raised ") + ex._name());
    }
  }

  void SoakClient::MergeCallbackCancels(CalculatorUse& use, OperationRecord& operation)
  {
    operation.taken.resize(operation.handlers.size(), false);
    for (std::size_t i = 0; i < operation.handlers.size(); ++i)
    {
      if (operation.taken[i])
        continue;
      const SoakHandler::Seen seen = HandlerAt(operation, i).Read();
      if (!seen.cancelled)
        continue;  // not (yet): looked at again on the next read
      if (!operation.cancelRequested)
        Note(operation, "cancelled from inside a callback");
      operation.cancelRequested = true;
      if (seen.cancelledAll)
        for (OperationRecord& other : use.operations)
          if (!seen.cancelReturned || other.submitted < *seen.cancelReturned)
          {
            if (!other.cancelRequested)
              Note(other, "cancelled by a cancel-all from a callback of operation " + std::to_string(operation.id));
            other.cancelRequested = true;
          }
      if (!seen.stateAfterCancel && seen.cancelFailure.empty())
        continue;  // still cancelling: its read is taken in later
      operation.taken[i] = true;
      ++m_stats.callbackCancels;
      if (!seen.cancelFailure.empty() && !(m_options.lossBoundMs > 0 && LostServerFailure(seen.cancelFailure)))
        m_findings.Violation("call-raised", Where(use, &operation),
                             "a cancel from inside a callback raised " + seen.cancelFailure);
      // That read came before the work went on: a Finished read since is later.
      if (seen.stateAfterCancel == Krovane::Cancelled && operation.lastRead == Krovane::Finished)
      {
        m_findings.Violation("cancelled-then-finished", Where(use, &operation),
                             "read Cancelled right after a cancel from inside a callback, later Finished");
        operation.readCancelled = true;
      }
      else if (seen.stateAfterCancel)
        Observe(use, operation, *seen.stateAfterCancel);
    }
  }

  void SoakClient::Observe(CalculatorUse& use, OperationRecord& operation, Krovane::OperationState state)
  {
    if (operation.lastRead != state)
      Note(operation, std::string("read ") + KroExample::OperationStateName(state));
    if (operation.lastRead && Ended(*operation.lastRead) && state != *operation.lastRead)
      m_findings.Violation(operation.readCancelled && state == Krovane::Finished ? "cancelled-then-finished"
                                                                                  : "ended-state-changed",
                           Where(use, &operation),
                           std::string("read ") + KroExample::OperationStateName(*operation.lastRead) + ", later " + KroExample::OperationStateName(state));
    operation.lastRead = state;
    operation.readCancelled = operation.readCancelled || state == Krovane::Cancelled;
    operation.readFinished = operation.readFinished || state == Krovane::Finished;
  }

  std::optional<Krovane::OperationState> SoakClient::ReadState(CalculatorUse& use, OperationRecord& operation)
  {
    MergeCallbackCancels(use, operation);
    ++m_stats.queries;
    std::optional<Krovane::OperationState> state;
    Checked(Where(use, &operation), "GetOperationState", [&] {
      try
      {
        state = use.calculator->GetOperationState(operation.id);
      }
      catch (const Krovane::InvalidOperationId&)
      {
        m_findings.Violation("unknown-id", Where(use, &operation), "GetOperationState raised InvalidOperationId");
      }
    });
    if (state)
      Observe(use, operation, *state);
    return state;
  }

  void SoakClient::Drive(CalculatorUse& use)
  {
    // Several at once: with every client doing so, some wait in the queue.
    for (int i = Random(3, 6); i > 0; --i)
      Submit(use);
    for (int requests = Random(4, 14); requests > 0 && !use.operations.empty(); --requests)
    {
      // Pacing of the random work, not a wait for anything.
      std::this_thread::sleep_for(milliseconds(Random(0, static_cast<int>(kLongestPause.count()))));
      OperationRecord& operation = use.operations[Random(0, static_cast<int>(use.operations.size()) - 1)];
      const int choice = Random(0, 99);
      if (choice < 15)
        CancelOne(use, operation);
      else if (choice < 27)
        ReattachOne(use, operation);
      else if (choice < 62)
      {
        // Cancelled at once once it reads Queued (a waiting operation leaves
        // the queue, its handler told so) or Running (its work may end before
        // the next cancellation point); read again at once.
        const std::optional<Krovane::OperationState> state = ReadState(use, operation);
        if ((state == Krovane::Queued || state == Krovane::Running) && Random(0, 1) == 0)
        {
          CancelOne(use, operation);
          ReadState(use, operation);
        }
      }
      else if (choice < 70)
      {
        // Some operations wait and some run: every one is read at once after.
        CancelAll(use);
        for (OperationRecord& cancelled : use.operations)
          ReadState(use, cancelled);
      }
      else if (choice < 74 && !operation.vanished)
        Vanish(operation);
      else
        Submit(use);
    }
  }

  void SoakClient::Settle(CalculatorUse& use)
  {
    const Clock::time_point deadline = Clock::now() + kEndWait;
    std::vector<bool> ended(use.operations.size(), false);
    for (;;)
    {
      bool all = true;
      for (std::size_t i = 0; i < use.operations.size(); ++i)
      {
        if (ended[i])
          continue;
        OperationRecord& operation = use.operations[i];
        int finished = 0;
        for (const PortableServer::ServantBase_var& handler : operation.handlers)
          finished += dynamic_cast<SoakHandler*>(handler.in())->Read().finished;
        std::optional<Krovane::OperationState> state;
        try
        {
          state = ReadState(use, operation);
        }
        catch (const ServerLost& lost)
        {
          use.lost = true;
          // Its Finished came before the server went: it has ended.
          ended[i] = finished > 0 || lost.gone ||
                     Clock::now() - m_lastAnswer >= milliseconds(m_options.lossBoundMs);
          if (ended[i] && finished == 0)
            EndFailed(use, operation, lost);
          all = all && ended[i];
          continue;
        }
        // One never cancelled has ended when its Finished has arrived too
        // (unless its handler vanished).
        // One whose state cannot be read (reported) is not waited for.
        ended[i] = !state || (Ended(*state) && (operation.cancelRequested || operation.vanished ||
                                                *state == Krovane::Cancelled || finished > 0));
        all = all && ended[i];
      }
      if (all)
        break;
      if (Clock::now() > deadline)
      {
        for (std::size_t i = 0; i < use.operations.size(); ++i)
          if (!ended[i])
          {
            const OperationRecord& operation = use.operations[i];
            m_findings.Violation("never-ended", Where(use, &operation),
                                 std::string("still ") + (operation.lastRead ? KroExample::OperationStateName(*operation.lastRead) : "unread") +
                                   (operation.cancelRequested ? " after a cancel" : "") + " after " +
                                   std::to_string(kEndWait.count()) + " s");
          }
        break;
      }
      m_activity.WaitFor(kRecheck);
    }
  }

  void SoakClient::RecheckAndRemove(CalculatorUse& use)
  {
    // A cancel-all from a callback of one operation cancelled the others too.
    for (OperationRecord& operation : use.operations)
      MergeCallbackCancels(use, operation);
    for (OperationRecord& operation : use.operations)
    {
      if (!use.lost)
        try
        {
          ReadState(use, operation);
        }
        catch (const ServerLost&)
        {
          use.lost = true;  // its operations had ended: only the handlers are checked
        }
      int finished = 0;
      for (const PortableServer::ServantBase_var& servant : operation.handlers)
      {
        const SoakHandler::Seen seen = dynamic_cast<SoakHandler*>(servant.in())->Read();
        finished += seen.finished;
        if (seen.finished > 1)
          m_findings.Violation("handler-finished-twice", Where(use, &operation),
                               "one handler got Finished " + std::to_string(seen.finished) + " times");
        if (!seen.afterFinished.empty())
          m_findings.Violation("handler-callback-after-finished", Where(use, &operation),
                               seen.afterFinished + " after Finished");
      }
      if (finished > 1)
        m_findings.Violation("operation-finished-twice", Where(use, &operation),
                             "its handlers got Finished " + std::to_string(finished) + " times");
      if (!operation.cancelRequested && operation.lastRead == Krovane::Cancelled)
        m_findings.Violation("cancelled-uncancelled", Where(use, &operation),
                             "Cancelled though never cancelled" + Timeline(use, operation));
      if (!operation.cancelRequested && !operation.vanished && operation.lastRead == Krovane::Finished && finished == 0 &&
          !use.lost)  // its Finished may have gone with the server
        m_findings.Violation("finished-lost", Where(use, &operation), "Finished, but no handler got Finished");
    }

    if (use.lost)
      return;  // nothing to remove: the server that had it is gone
    const Clock::time_point deadline = Clock::now() + kRemoveWait;
    for (;;)
    {
      bool refused = false;
      const bool called = Checked(Where(use), "Remove", [&] {
        try
        {
          use.calculator->Remove();
        }
        catch (const Krovane::OperationsStillActive&)
        {
          refused = true;
        }
      });
      if (!called || !refused)
      {
        m_stats.removes += called ? 1 : 0;
        return;
      }
      if (Clock::now() > deadline)
      {
        m_findings.Violation("remove-refused", Where(use),
                             "Remove refused with OperationsStillActive for " + std::to_string(kRemoveWait.count()) +
                               " s after every operation ended");
        // A client that must leave cancels everything and tries once more.
        CancelAll(use);
        Checked(Where(use), "Remove after CancelAllOperations", [&] {
          try
          {
            use.calculator->Remove();
            ++m_stats.removes;
          }
          catch (const Krovane::OperationsStillActive&)
          {
            m_findings.Violation("remove-refused", Where(use), "Remove refused after CancelAllOperations too");
          }
        });
        return;
      }
      m_activity.WaitFor(kRecheck);
    }
  }

  int SoakClient::Run()
  {
    const Clock::time_point end = Clock::now() + seconds(m_options.seconds);
    std::unique_ptr<CalculatorUse> previous;
    try
    {
      while (Clock::now() < end)
      {
        auto use = std::make_unique<CalculatorUse>();
        use->number = static_cast<int>(++m_stats.calculators);
        use->calculator = NewCalculator(Where(*use));
        if (CORBA::is_nil(use->calculator.in()))
          break;
        try
        {
          Drive(*use);
        }
        catch (const ServerLost&)
        {
          use->lost = true;
        }
        Settle(*use);
        m_stats.losses += use->lost ? 1 : 0;
        if (previous)
          try
          {
            RecheckAndRemove(*previous);
          }
          catch (const ServerLost&)
          {
          }
        previous = std::move(use);
      }
      if (previous)
        try
        {
          RecheckAndRemove(*previous);
        }
        catch (const ServerLost&)
        {
        }
    }
    catch (const ServerGone&)
    {
    }
    std::printf("STATS calculators=%ld operations=%ld cancels=%ld reattaches=%ld queries=%ld cancelAlls=%ld removes=%ld"
                " callbackCancels=%ld vanished=%ld losses=%ld failedGone=%ld failedUnreachable=%ld\n",
                m_stats.calculators, m_stats.operations, m_stats.cancels, m_stats.reattaches, m_stats.queries,
                m_stats.cancelAlls, m_stats.removes, m_stats.callbackCancels, m_stats.vanished, m_stats.losses,
                m_stats.failedGone, m_stats.failedUnreachable);
    m_findings.PrintCounts();
    return m_findings.Total() == 0 ? 0 : 1;
  }
}
