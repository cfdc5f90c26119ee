#include "SoakClient.h"

#include "OperationStateName.h"
#include "KroKit/UserTokenText.h"

#include <cstdio>
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
    object = m_orb->string_to_object(options.ior.c_str());
    m_factory = Krovane::IServerFactory::_narrow(object.in());
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

  // Runs call; a system exception is a violation (the server being
  // unreachable ends the client's work). False when the call failed.
  template <typename Call>
  static bool Checked(SoakFindings& findings, const std::string& where, const char* what, Call call)
  {
    try
    {
      call();
      return true;
    }
    catch (const CORBA::TRANSIENT& ex)
    {
      findings.Violation("server-unreachable", where, std::string(what) + " raised " + Describe(ex));
      throw ServerGone();
    }
    catch (const CORBA::COMM_FAILURE& ex)
    {
      findings.Violation("server-unreachable", where, std::string(what) + " raised " + Describe(ex));
      throw ServerGone();
    }
    catch (const CORBA::SystemException& ex)
    {
      findings.Violation("call-raised", where, std::string(what) + " raised " + Describe(ex));
      return false;
    }
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
    if (Checked(m_findings, Where(use), "Compute",
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
    Checked(m_findings, Where(use, &operation), "CancelOperation", [&] {
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
    Checked(m_findings, Where(use, &operation), "RegisterNewHandler", [&] {
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
    Checked(m_findings, Where(use), "CancelAllOperations", [&] { use.calculator->CancelAllOperations(); });
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
      if (!seen.cancelFailure.empty())
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
    Checked(m_findings, Where(use, &operation), "GetOperationState", [&] {
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
        std::optional<Krovane::OperationState> state = ReadState(use, operation);
        int finished = 0;
        for (const PortableServer::ServantBase_var& handler : operation.handlers)
          finished += dynamic_cast<SoakHandler*>(handler.in())->Read().finished;
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
      ReadState(use, operation);
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
      if (!operation.cancelRequested && !operation.vanished && operation.lastRead == Krovane::Finished && finished == 0)
        m_findings.Violation("finished-lost", Where(use, &operation), "Finished, but no handler got Finished");
    }

    const Clock::time_point deadline = Clock::now() + kRemoveWait;
    for (;;)
    {
      bool refused = false;
      const bool called = Checked(m_findings, Where(use), "Remove", [&] {
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
        Checked(m_findings, Where(use), "Remove after CancelAllOperations", [&] {
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
        bool created = Checked(m_findings, Where(*use), "CreateObject", [&] {
          Krovane::ISyncServer_var server = m_factory->CreateObject(KroKit::TokenFromText(m_options.name));
          use->calculator = Calculator::ICalculator::_narrow(server.in());
        });
        if (!created || CORBA::is_nil(use->calculator.in()))
          break;
        Drive(*use);
        Settle(*use);
        if (previous)
          RecheckAndRemove(*previous);
        previous = std::move(use);
      }
      if (previous)
        RecheckAndRemove(*previous);
    }
    catch (const ServerGone&)
    {
    }
    std::printf("STATS calculators=%ld operations=%ld cancels=%ld reattaches=%ld queries=%ld cancelAlls=%ld removes=%ld"
                " callbackCancels=%ld vanished=%ld\n",
                m_stats.calculators, m_stats.operations, m_stats.cancels, m_stats.reattaches, m_stats.queries,
                m_stats.cancelAlls, m_stats.removes, m_stats.callbackCancels, m_stats.vanished);
    m_findings.PrintCounts();
    return m_findings.Total() == 0 ? 0 : 1;
  }
}
