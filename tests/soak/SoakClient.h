// SoakClient: one soak client process's work for one round. Until its time
// is up it takes calculators one after another; on each it submits several
// computations of random length at once (more than the server's pool runs,
// so that some wait while others run) and, at random, cancels one, attaches
// a fresh handler to one, asks the state of one (and cancels it at once
// when it reads Queued or Running), cancels all, lets a handler vanish or
// submits one more; some handlers refuse Status, and some cancel their
// operation from inside a callback (see SoakHandler). Then it waits until
// every operation of the calculator has ended and checks the operations and
// their handlers; a calculator's states are read again once the next one
// has ended, before it is removed. A Remove still refused after its bound
// is reported, then tried once more after CancelAllOperations, as a client
// that must leave would.
//
// Checks: every operation ends Finished or Cancelled and stays so (a state
// read Cancelled never later reads Finished, nor Finished -> Cancelled); an
// operation never cancelled ends Finished, with exactly one Finished among
// its handlers; no handler gets a callback after Finished, nor two
// Finished; Remove is accepted once every operation has ended; no call fails
// with a system exception.
//
// With a loss bound (the soak's --restarts: its server is killed and started
// again), a call that fails because the server is gone (TRANSIENT,
// COMM_FAILURE, TIMEOUT, OBJECT_NOT_EXIST) is expected, not a violation:
// the calculator is lost, and each of its operations not yet ended ends
// Failed ("server unreachable: ...") by the client library's rule: at once
// on OBJECT_NOT_EXIST (the restarted server does not know it), else once
// the server has not answered for the bound. Such an end later than the
// bound after the server's last answer is a violation, as is an operation
// that never ends. The client then takes a new calculator, reading the
// factory's IOR again from its file.
//
// Threads: Run() on the process's main thread; the ORB's threads deliver
// callbacks to the handlers.
#ifndef KRO_TESTS_SOAK_SOAKCLIENT_H
#define KRO_TESTS_SOAK_SOAKCLIENT_H

#include "SoakFindings.h"
#include "SoakHandler.h"

#include "Calculator.hh"

#include <chrono>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace KroSoak
{
  struct ClientOptions
  {
    std::string name = "client";    // for messages
    std::string ior;                 // the server's factory
    int seconds = 30;                // how long to keep taking calculators
    unsigned seed = 1;               // of the random choices
    int refusingPercent = 25;        // handlers that refuse Status
    std::string iorFile;             // where the factory's IOR is read again after a loss (with lossBound)
    int lossBoundMs = 0;             // 0: a lost server is a violation; else the bound of a lost operation
  };

  // What the client did, printed at the end for the coordinator.
  struct ClientStats
  {
    long calculators = 0, operations = 0, cancels = 0, reattaches = 0, queries = 0, cancelAlls = 0,
         removes = 0, callbackCancels = 0, vanished = 0, failedGone = 0, failedUnreachable = 0, losses = 0;
  };

  class SoakClient
  {
  public:
    SoakClient(CORBA::ORB_ptr orb, const ClientOptions& options);
    // The client's work; the process's exit code (0: no violation).
    int Run();

  private:
    struct OperationRecord
    {
      CORBA::Long id = 0;
      bool cancelRequested = false;                      // CancelOperation or CancelAllOperations asked
      std::vector<PortableServer::ServantBase_var> handlers;  // every SoakHandler it was given
      std::optional<Krovane::OperationState> lastRead;   // the last state read
      bool readCancelled = false;                        // some read gave Cancelled
      bool readFinished = false;                         // some read gave Finished
      bool vanished = false;                             // its current handler was deactivated
      std::vector<bool> taken;                           // per handler: its callback cancel is taken in
      std::chrono::steady_clock::time_point submitted;   // just before its Compute was sent
      std::string timeline;                              // what the client did and saw, for a violation's report
      std::string failure;                               // why it ended Failed (its server lost); empty: it did not
    };

    struct CalculatorUse
    {
      int number = 0;                                    // in this client
      Calculator::ICalculator_var calculator;
      std::vector<OperationRecord> operations;
      bool lost = false;                                 // a call found its server gone (with a loss bound)
    };

    // A call found the server gone (thrown only with a loss bound).
    struct ServerLost
    {
      std::string text;   // "server unreachable: ..."
      bool gone = false;  // OBJECT_NOT_EXIST: the server answered that it no longer has the object
    };

    // One calculator's submissions and random requests.
    void Drive(CalculatorUse& use);
    void Submit(CalculatorUse& use);
    void CancelOne(CalculatorUse& use, OperationRecord& operation);
    void ReattachOne(CalculatorUse& use, OperationRecord& operation);
    void CancelAll(CalculatorUse& use);
    // Deactivates the operation's current handler: a client gone from under it.
    void Vanish(OperationRecord& operation);
    // Takes in the cancels the operation's handlers made from their
    // callbacks, and the states they read right after. A handler armed to
    // cancel may fire at any later callback: each is looked at again until
    // its cancel is in. An operation counts as cancelled from the moment
    // the cancel went out (it may take effect on the server before its
    // answer arrives); a cancel-all from a callback counts for every
    // operation whose Compute was sent before that cancel-all returned.
    void MergeCallbackCancels(CalculatorUse& use, OperationRecord& operation);
    // Checks a state read against the earlier ones and keeps it.
    void Observe(CalculatorUse& use, OperationRecord& operation, Krovane::OperationState state);
    // Reads and checks the state; empty when the read failed.
    std::optional<Krovane::OperationState> ReadState(CalculatorUse& use, OperationRecord& operation);
    // Waits until every operation has ended, then checks them all.
    void Settle(CalculatorUse& use);
    // Reads every state again and removes the calculator.
    void RecheckAndRemove(CalculatorUse& use);

    // Runs call. A system exception is a violation (false returned), or,
    // when the server is gone, ServerGone (without a loss bound: reported)
    // or ServerLost (with one). A call that returns marks the server's last answer.
    template <typename Call>
    bool Checked(const std::string& where, const char* what, Call call);
    // A new calculator, from the factory (read again from its file after a
    // loss, for up to a few bounds while the server restarts); nil when none.
    Calculator::ICalculator_ptr NewCalculator(const std::string& where);
    // Ends an operation of a lost calculator Failed, checking the bound.
    void EndFailed(CalculatorUse& use, OperationRecord& operation, const ServerLost& lost);

    Krovane::IAsyncHandler_ptr NewHandler(OperationRecord& operation);
    SoakHandler& HandlerAt(OperationRecord& operation, std::size_t index) const;
    std::string Where(const CalculatorUse& use, const OperationRecord* operation = nullptr) const;
    // Adds an event to the operation's timeline (milliseconds since the client started).
    void Note(OperationRecord& operation, const std::string& event) const;
    // The operation's timeline and every callback cancel of its calculator, for a report.
    std::string Timeline(CalculatorUse& use, const OperationRecord& operation) const;
    int Random(int low, int high);  // uniform in [low, high]

    CORBA::ORB_var m_orb;
    PortableServer::POA_var m_root;                 // where the handlers live
    Krovane::IServerFactory_var m_factory;
    ClientOptions m_options;
    std::mt19937 m_random;
    Activity m_activity;                            // woken by every callback
    SoakFindings m_findings;
    ClientStats m_stats;
    const std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point m_lastAnswer = m_started;  // of the server, to any call
  };
}

#endif
