#include "JournalSoakClient.h"

#include "KroClient/FailureText.h"
#include "support/ProcessHarness.h"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace KroSoak
{
  namespace
  {
    using std::chrono::milliseconds;
    using std::chrono::seconds;

    const std::size_t kInFlight = 4;           // counts kept pending at once
    const int kLongestSteps = 6;
    const int kLongestStepMs = 40;
    const milliseconds kRetryPause(50);        // between submissions while the server is away
    const seconds kNeverEnded(90);             // a count still pending this long after its submission is lost
    const seconds kWorkerWait(60);             // the longest the first worker may take to get
    const char* const kStopping = "Unavailable: server is stopping";

    // Why a failed operation failed, as one line.
    std::string FailureOf(const KroClient::Operation& operation)
    {
      Krovane::IAsyncExceptionHolder_var holder = operation.Failure();
      try
      {
        KroClient::Operation::Raise(holder.in());
      }
      catch (const CORBA::Exception& ex)
      {
        return KroClient::FailureText(ex);
      }
      return "nothing raised";
    }
  }

  JournalSoakClient::JournalSoakClient(PortableServer::POA_ptr poa, CORBA::ORB_ptr orb,
                                       const JournalClientOptions& options)
    : m_orb(CORBA::ORB::_duplicate(orb)),
      m_options(options),
      m_client(poa, milliseconds(options.lossBoundMs)),
      m_random(options.seed)
  {
  }

  long long JournalSoakClient::SinceStart(Clock::time_point when) const
  {
    return std::chrono::duration_cast<milliseconds>(when - m_started).count();
  }

  void JournalSoakClient::TakeWorker(Clock::time_point deadline)
  {
    std::string lastFailure = "no IOR file";
    while (Clock::now() < deadline)
    {
      try
      {
        if (KroTest::WaitForFile(m_options.iorFile,
                                 std::chrono::duration_cast<milliseconds>(deadline - Clock::now())))
        {
          CORBA::Object_var object = m_orb->string_to_object(KroTest::ReadFileText(m_options.iorFile).c_str());
          Krovane::IServerFactory_var factory = Krovane::IServerFactory::_narrow(object.in());
          Krovane::ISyncServer_var server = factory->CreateObject(Krovane::UserToken());
          m_worker = Smallest::IWorker::_narrow(server.in());
          return;
        }
      }
      catch (const CORBA::Exception& ex)  // a server killed meanwhile, or its file half written
      {
        lastFailure = KroClient::FailureText(ex);
      }
      catch (const std::exception& ex)  // the file, between a kill and the restart
      {
        lastFailure = ex.what();
      }
      // Pacing of the tries while the server restarts.
      std::this_thread::sleep_for(kRetryPause);
    }
    m_findings.Violation("no-worker", m_options.name, "no worker within " + std::to_string(kWorkerWait.count()) +
                                                        " s: " + lastFailure);
  }

  bool JournalSoakClient::Submit()
  {
    Count count;
    count.steps = std::uniform_int_distribution<int>(1, kLongestSteps)(m_random);
    const CORBA::Long stepMs = std::uniform_int_distribution<int>(5, kLongestStepMs)(m_random);
    count.ends = std::make_shared<Ends>();
    KroClient::Callbacks callbacks;
    callbacks.ended = [ends = count.ends](KroClient::Outcome) {
      if (ends->times.fetch_add(1) == 0)
        ends->at.store(Clock::now().time_since_epoch().count());
    };
    count.submitted = Clock::now();
    try
    {
      count.operation = std::make_unique<KroClient::Operation>(m_client.Submit(
        m_worker.in(), [&](Krovane::IAsyncHandler_ptr handler) { return m_worker->Count(count.steps, stepMs, handler); },
        callbacks));
    }
    catch (const Krovane::Unavailable&)  // stopping: its successor takes it
    {
      ++m_refused;
      return false;
    }
    catch (const CORBA::OBJECT_NOT_EXIST& ex)
    {
      // A request in the last moments of an orderly stop (its POAs gone,
      // its port still open) can still get omniORB's answer for a destroyed
      // POA, completed NO: nothing was submitted. A worker that still does
      // not exist a whole bound later is lost.
      const Clock::time_point now = Clock::now();
      if (!m_notExistSince)
        m_notExistSince = now;
      if (now - *m_notExistSince <= milliseconds(m_options.lossBoundMs))
      {
        ++m_notExist;
        ++m_refused;
        return false;
      }
      m_findings.Violation("worker-lost", m_options.name, "Count raised " + KroClient::FailureText(ex) + ", " +
                                                            std::to_string(m_ids.size()) + " counts after its worker was made, at " +
                                                            std::to_string(SinceStart(now)) + " ms");
      throw;
    }
    catch (const CORBA::SystemException&)  // away: killed, or not yet listening again
    {
      ++m_refused;
      return false;
    }
    m_notExistSince.reset();
    count.id = count.operation->Id();
    ++m_submitted;
    if (!m_ids.insert(count.id).second)
      m_findings.Violation("id-given-twice", m_options.name, "the worker gave id " + std::to_string(count.id) + " again");
    m_pending.push_back(std::move(count));
    return true;
  }

  void JournalSoakClient::SettleOldest(Clock::time_point deadline)
  {
    Count& count = m_pending.front();
    const Clock::time_point lost = count.submitted + kNeverEnded;
    const KroClient::Outcome outcome = count.operation->WaitForEnd(std::min(deadline, lost));
    if (outcome == KroClient::Outcome::Pending)
    {
      if (Clock::now() < lost)
        return;
      m_findings.Violation("never-ended", m_options.name, "count " + std::to_string(count.id) + " still pending after " +
                                                            std::to_string(kNeverEnded.count()) + " s");
    }
    else
      Check(count, outcome);
    m_settled.push_back(std::move(m_pending.front()));
    m_pending.pop_front();
  }

  void JournalSoakClient::Check(Count& count, KroClient::Outcome outcome)
  {
    const std::string where = m_options.name + " count " + std::to_string(count.id);
    const Clock::rep endedAt = count.ends->at.load();
    const Clock::time_point ended = endedAt ? Clock::time_point(Clock::duration(endedAt)) : Clock::now();
    const milliseconds wait = std::chrono::duration_cast<milliseconds>(ended - count.submitted);
    m_worstWait = std::max(m_worstWait, wait);
    // A count runs well under a second; a restart may add the loss bound at worst.
    if (wait > milliseconds(m_options.lossBoundMs) + seconds(10))
      m_findings.Violation("waited-past-bound", where, "ended after " + std::to_string(wait.count()) + " ms");
    if (outcome == KroClient::Outcome::Finished)
    {
      CORBA::Long value = -1;
      const CORBA::Any results = count.operation->Results();
      if (!(results >>= value) || value != count.steps)
        m_findings.Violation("wrong-result", where, "Finished with " + std::to_string(value) + ", not " +
                                                      std::to_string(count.steps) + " (-1: no Results), progress " +
                                                      std::to_string(count.operation->Progress()) + ", submitted at " +
                                                      std::to_string(SinceStart(count.submitted)) + " ms, ended at " +
                                                      std::to_string(SinceStart(ended)) + " ms");
      else
        ++m_finished;
      return;
    }
    const std::string failure = outcome == KroClient::Outcome::Failed ? FailureOf(*count.operation) : "";
    if (failure == kStopping)  // an orderly stop ends what it cannot finish, and says so
      ++m_stopped;
    else
      m_findings.Violation("lost", where, std::string("ended ") + KroClient::OutcomeName(outcome) + " " + failure +
                                            ", submitted at " + std::to_string(SinceStart(count.submitted)) +
                                            " ms, ended at " + std::to_string(SinceStart(ended)) + " ms");
  }

  int JournalSoakClient::Run()
  {
    const Clock::time_point end = Clock::now() + seconds(m_options.seconds);
    TakeWorker(Clock::now() + kWorkerWait);
    try
    {
      while (!CORBA::is_nil(m_worker.in()) && Clock::now() < end)
      {
        if (m_pending.size() < kInFlight && Submit())
          continue;
        if (!m_pending.empty())
          SettleOldest(Clock::now() + (m_pending.size() < kInFlight ? kRetryPause : milliseconds(500)));
        else
          std::this_thread::sleep_for(kRetryPause);  // pacing while the server is away
      }
    }
    catch (const CORBA::OBJECT_NOT_EXIST&)
    {
    }
    while (!m_pending.empty())
      SettleOldest(Clock::time_point::max());
    // Every end is told once: a second one would have come by now.
    for (const Count& count : m_settled)
      if (count.ends->times.load() > 1)
        m_findings.Violation("ended-twice", m_options.name + " count " + std::to_string(count.id),
                             "its end was told " + std::to_string(count.ends->times.load()) + " times");
    std::printf("JSTATS submitted=%ld refused=%ld notExist=%ld finished=%ld stopped=%ld worstWaitMs=%lld\n", m_submitted, m_refused, m_notExist,
                m_finished, m_stopped, static_cast<long long>(m_worstWait.count()));
    m_findings.PrintCounts();
    return m_findings.Total() == 0 ? 0 : 1;
  }
}
