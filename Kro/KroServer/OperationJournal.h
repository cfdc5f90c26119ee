// OperationJournal: what a server object tells a durable record of its
// operations, at four points: submission, progress and status, the work's
// outcome, the end. A server object without one (the default) keeps its
// operations in memory only.
//
// Durability: Submitted and Ended are committed before they return (an id
// goes to the client, or Finished is sent, only afterwards); Place,
// Progress, Status, Results and Failed may wait for the next commit.
//
// Ownership: the process owns the journal; server objects hold a plain
// pointer. Threads: any; an implementation takes its own lock, as a leaf
// (callers may hold a server object's m_asyncLock).
#ifndef KROSERVER_OPERATIONJOURNAL_H
#define KROSERVER_OPERATIONJOURNAL_H

#include "Krovane.hh"

#include "Dazadared/Variant.h"

#include <string>
#include <vector>

namespace Krovane
{
  class OperationJournal
  {
  public:
    // How an ended operation ended, for a handler attached after its end.
    struct End
    {
      OperationState state = Finished;
      bool hasResults = false;  // data holds the work's Results
      CORBA::Any data;          // the last Results, when hasResults
      std::string failure;      // the reason the work failed; empty: none
    };

    virtual ~OperationJournal() = default;

    // The operation id of object, queued: committed before it returns;
    // Unavailable, with a reason, when it cannot be.
    virtual void Submitted(const std::string& object, int id, const std::string& name,
                           const std::vector<Halvern_Utilities::Variant>& parameters, bool restartable) = 0;
    // The latest place in line the operation was told (1 = next); none by default.
    virtual void Place(const std::string& /*object*/, int /*id*/, int /*place*/) {}
    virtual void Started(const std::string& object, int id) = 0;
    virtual void Progress(const std::string& object, int id, double fraction) = 0;
    virtual void Status(const std::string& object, int id, const std::string& text) = 0;
    // The work's results or failure, kept until its end is committed.
    virtual void Results(const std::string& object, int id, const CORBA::Any& data) = 0;
    virtual void Failed(const std::string& object, int id, const std::string& reason) = 0;
    // The end, committed before it returns; a failure is logged, never
    // passed on (the client still hears of the end).
    virtual void Ended(const std::string& object, int id, OperationState state) = 0;
    // How an ended operation ended; false when the journal has no end for it.
    virtual bool EndOf(const std::string& object, int id, End& end) = 0;
    // The object works for another user now (token: as its user packet
    // holds it); committed before it returns, a failure logged.
    virtual void UserChanged(const std::string& object, const std::string& token) = 0;
    // The object was removed: it and its operations are forgotten.
    virtual void Removed(const std::string& object) = 0;
  };
}

#endif
