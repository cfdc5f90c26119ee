// Operation records: equality of units of work, and cancellation through
// the job controller on threads the thread manager does and does not run.
#include "KroServer/Dispatchable.h"
#include "KroServer/Operation.h"
#include "KroServer/RequestThreads.h"
#include "KroServer/SynchronousOperation.h"

#include "Dazadared/Job.h"
#include "Dazadared/JobController.h"
#include "Dazadared/JobGuard.h"
#include "support/LogCapture.h"

#include <ace/Thread.h>
#include <ace/Thread_Manager.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using Halvern_Utilities::Job;
using Halvern_Utilities::JobController;
using Krovane::Operation;
using KroTest::LogCapture;

namespace
{
  const std::string kSetCancelled = "(%P|%t) Operation::Cancel(): Set state to Cancelled\n";
  const std::string kThreadNotValid = "Operation::Cancel() Thread isn't valid.\n";
  const std::string kDuplicate =
    "(%P|%t) ***** Operation::Cancel(): found duplicate Jobs registered with the JobController. "
    "You must unregister jobs when they are done.\n";

  unsigned long Self() { return static_cast<unsigned long>(ACE_Thread::self()); }

  // A thread started through the process's thread manager that runs body,
  // then idles until the test lets it go (at the latest after a minute).
  class ManagedThread
  {
  public:
    explicit ManagedThread(std::function<void()> body = nullptr) : m_id(0), m_body(std::move(body))
    {
      m_started = m_startedPromise.get_future();
      m_release = m_releasePromise.get_future().share();
      ACE_thread_t id;
      m_spawned = ACE_Thread_Manager::instance()->spawn(&ManagedThread::Run, this,
                                                        THR_NEW_LWP | THR_JOINABLE, &id) != -1;
      if (m_spawned && m_started.wait_for(std::chrono::seconds(30)) == std::future_status::ready)
        m_id = m_started.get();
    }

    ~ManagedThread()
    {
      if (!m_spawned)
        return;
      m_releasePromise.set_value();
      ACE_Thread_Manager::instance()->join(static_cast<ACE_thread_t>(m_id));
    }

    unsigned long Id() const { return m_id; }

  private:
    static ACE_THR_FUNC_RETURN Run(void* arg)
    {
      ManagedThread* self = static_cast<ManagedThread*>(arg);
      std::shared_future<void> release = self->m_release;
      std::function<void()> body = self->m_body;
      self->m_startedPromise.set_value(Self());
      if (body)
        body();
      release.wait_for(std::chrono::seconds(60));
      return 0;
    }

    bool m_spawned;
    unsigned long m_id;
    std::function<void()> m_body;
    std::promise<unsigned long> m_startedPromise;
    std::future<unsigned long> m_started;
    std::promise<void> m_releasePromise;
    std::shared_future<void> m_release;
  };

  // A job that notes when it is stopped, and may do something more then.
  class RecordingJob : public Job
  {
  public:
    RecordingJob(unsigned long threadId, std::string name, std::vector<std::string>* stops,
                 std::function<void()> onStop = nullptr)
      : Job(threadId), m_name(std::move(name)), m_stops(stops), m_onStop(std::move(onStop))
    {
    }

  protected:
    void OnCancel() override
    {
      m_stops->push_back(m_name);
      if (m_onStop)
        m_onStop();
    }

  private:
    std::string m_name;
    std::vector<std::string>* m_stops;
    std::function<void()> m_onStop;
  };

  // A record whose Cancel must stop the thread itself.
  class StoppingOperation : public Operation
  {
  public:
    StoppingOperation() : Operation("stubborn") { m_cooperativeCancel = 0; }
  };

  std::string FoundJobLine(const Job* job)
  {
    char text[128];
    std::snprintf(text, sizeof text, "(%%P|%%t) Operation::Cancel(): found job(%lx) to cancel\n",
                  reinterpret_cast<unsigned long>(job));
    return text;
  }
}

TEST(Dispatchable, EqualWhenSameObjectOrSameThread)
{
  Krovane::Dispatchable a, b;
  EXPECT_TRUE(a == b);  // both never dispatched: thread id 0
  EXPECT_TRUE(a == a);
  a.SetThreadId(5);
  EXPECT_FALSE(a == b);
  EXPECT_FALSE(b == a);
  EXPECT_TRUE(a == a);
  b.SetThreadId(5);
  EXPECT_TRUE(a == b);
  EXPECT_EQ(5u, b.GetThreadId());
}

TEST(Operation, CancelOutsideRunningChangesNothing)
{
  ManagedThread thread;
  ASSERT_NE(0u, thread.Id());
  std::vector<std::string> stops;
  RecordingJob job(thread.Id(), "job", &stops);
  JobController::Instance()->Register(&job);

  LogCapture capture;
  for (Krovane::OperationState state : {Krovane::Queued, Krovane::Finished, Krovane::Cancelled})
  {
    Operation operation("op");
    operation.SetThreadId(thread.Id());
    operation.SetState(state);
    operation.Cancel();
    EXPECT_EQ(state, operation.GetState());
  }
  EXPECT_TRUE(capture.Lines().empty());
  EXPECT_TRUE(stops.empty());
  JobController::Instance()->Unregister(&job);
}

TEST(Operation, CancelOnThreadOutsideTheThreadManagerOnlyMarksCancelled)
{
  std::vector<std::string> stops;
  RecordingJob job(Self(), "job", &stops);  // must not be asked for
  JobController::Instance()->Register(&job);

  Operation cooperative("op");
  StoppingOperation stopping;  // nor is the thread stopped
  for (Operation* operation : {&cooperative, static_cast<Operation*>(&stopping)})
  {
    operation->SetThreadId(Self());
    operation->SetState(Krovane::Running);
    LogCapture capture;
    operation->Cancel();
    EXPECT_EQ(std::vector<std::string>{kThreadNotValid}, capture.Lines());
    EXPECT_EQ(Krovane::Cancelled, operation->GetState());
  }
  EXPECT_TRUE(stops.empty());
  EXPECT_FALSE(job.IsCancelled());
  JobController::Instance()->Unregister(&job);
}

// What makes an ORB thread reachable by Cancel while it serves a request.
TEST(RequestThreads, NestedRequestsAreCountedAndAnEndedThreadIsForgotten)
{
  using Krovane::RequestThreads;
  std::promise<unsigned long> serving;
  std::promise<void> release;
  std::thread orbThread([&]()
  {
    const unsigned long self = Self();
    EXPECT_FALSE(RequestThreads::IsServing(self));
    RequestThreads::Enter(self);
    RequestThreads::Enter(self);  // a nested request
    RequestThreads::Leave(self);
    EXPECT_TRUE(RequestThreads::IsServing(self));
    RequestThreads::Leave(self);
    RequestThreads::Leave(self);  // one Leave too many changes nothing
    EXPECT_FALSE(RequestThreads::IsServing(self));
    RequestThreads::Enter(self);
    serving.set_value(self);
    release.get_future().wait();  // ends while it still serves
  });
  const unsigned long id = serving.get_future().get();
  EXPECT_TRUE(RequestThreads::IsServing(id));  // seen from another thread
  release.set_value();
  orbThread.join();
  EXPECT_FALSE(RequestThreads::IsServing(id));
}

TEST(Operation, CancelStopsEveryJobOfTheThreadInRegistrationOrder)
{
  ManagedThread thread;
  ASSERT_NE(0u, thread.Id());
  std::vector<std::string> stops;
  RecordingJob first(thread.Id(), "first", &stops);
  RecordingJob second(thread.Id(), "second", &stops);
  RecordingJob third(thread.Id(), "third", &stops);
  RecordingJob otherThread(thread.Id() + 1, "other", &stops);
  for (Job* job : std::vector<Job*>{&first, &second, &otherThread, &third})
    JobController::Instance()->Register(job);

  Operation operation("op");
  operation.SetThreadId(thread.Id());
  operation.SetState(Krovane::Running);
  LogCapture capture;
  operation.Cancel();

  EXPECT_EQ((std::vector<std::string>{"first", "second", "third"}), stops);
  EXPECT_EQ(std::vector<std::string>{kSetCancelled}, capture.Lines());
  EXPECT_EQ(Krovane::Cancelled, operation.GetState());
  EXPECT_EQ(0u, JobController::Instance()->NumJobs(thread.Id()));
  EXPECT_EQ(1u, JobController::Instance()->NumJobs(thread.Id() + 1));
  JobController::Instance()->Unregister(&otherThread);
}

TEST(Operation, CancelStopsAtAJobRegisteredTwice)
{
  ManagedThread thread;
  ASSERT_NE(0u, thread.Id());
  std::vector<std::string> stops;
  RecordingJob twice(thread.Id(), "twice", &stops);
  RecordingJob after(thread.Id(), "after", &stops);
  JobController::Instance()->Register(&twice);
  JobController::Instance()->Register(&twice);
  JobController::Instance()->Register(&after);

  Operation operation("op");
  operation.SetThreadId(thread.Id());
  operation.SetState(Krovane::Running);
  LogCapture capture;
  operation.Cancel();

  EXPECT_EQ((std::vector<std::string>{kDuplicate, kSetCancelled}), capture.Lines());
  EXPECT_EQ(std::vector<std::string>{"twice"}, stops);
  EXPECT_EQ(Krovane::Cancelled, operation.GetState());
  // The job controller no longer holds the job for this thread: its owner may go.
  JobController::Instance()->Unregister(&twice);
  JobController::Instance()->Unregister(&after);
}

TEST(Operation, JobOwnerCanWithdrawItsJobOnceCancelReturns)
{
  std::promise<void> registered, cancelled, withdrawn;
  std::shared_future<void> cancelledSignal = cancelled.get_future().share();
  std::vector<std::string> stops;
  ManagedThread thread([&] {
    RecordingJob job(Self(), "job", &stops);
    {
      Halvern_Utilities::JobGuard guard(job);
      JobController::Instance()->Register(&job);  // twice: Cancel ends at the duplicate
      registered.set_value();
      cancelledSignal.wait_for(std::chrono::seconds(30));
    }
    withdrawn.set_value();
  });
  ASSERT_NE(0u, thread.Id());
  ASSERT_EQ(std::future_status::ready, registered.get_future().wait_for(std::chrono::seconds(30)));

  Operation operation("op");
  operation.SetThreadId(thread.Id());
  operation.SetState(Krovane::Running);
  operation.Cancel();
  cancelled.set_value();

  const bool ownerWentOn =
    withdrawn.get_future().wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  if (!ownerWentOn)
    JobController::Instance()->ReleaseFoundJob();  // let the owner go before failing
  EXPECT_TRUE(ownerWentOn) << "the job's owner still waits for the canceller";
  EXPECT_EQ(0u, JobController::Instance()->NumJobs(thread.Id()));  // the guard withdrew both entries
  EXPECT_EQ(std::vector<std::string>{"job"}, stops);
  EXPECT_EQ(Krovane::Cancelled, operation.GetState());
}

TEST(Operation, CancelNeverTurnsAnOperationThatFinishedMeanwhileIntoCancelled)
{
  ManagedThread thread;
  ASSERT_NE(0u, thread.Id());
  Operation operation("op");
  std::vector<std::string> stops;
  // The work ends while its job is being cancelled.
  RecordingJob job(thread.Id(), "job", &stops, [&] { operation.SetState(Krovane::Finished); });
  JobController::Instance()->Register(&job);
  operation.SetThreadId(thread.Id());
  operation.SetState(Krovane::Running);

  operation.Cancel();
  EXPECT_EQ(std::vector<std::string>{"job"}, stops);
  EXPECT_EQ(Krovane::Finished, operation.GetState());
}

TEST(Operation, NonCooperativeCancelFlagsTheThreadAndCancelsItsJobs)
{
  ManagedThread thread;
  ASSERT_NE(0u, thread.Id());
  std::vector<std::string> stops;
  RecordingJob first(thread.Id(), "first", &stops);
  RecordingJob second(thread.Id(), "second", &stops);
  JobController::Instance()->Register(&first);
  JobController::Instance()->Register(&second);

  StoppingOperation operation;
  operation.SetThreadId(thread.Id());
  operation.SetState(Krovane::Running);
  ASSERT_EQ(0, ACE_Thread_Manager::instance()->testcancel(static_cast<ACE_thread_t>(thread.Id())));
  LogCapture capture;
  operation.Cancel();

  // The process is still here, the thread is asked to stop, and it was not joined.
  EXPECT_EQ(1, ACE_Thread_Manager::instance()->testcancel(static_cast<ACE_thread_t>(thread.Id())));
  EXPECT_EQ(1, ACE_Thread_Manager::instance()->thread_within(static_cast<ACE_thread_t>(thread.Id())));
  EXPECT_EQ((std::vector<std::string>{FoundJobLine(&first), FoundJobLine(&second), kSetCancelled}),
            capture.Lines());
  EXPECT_EQ((std::vector<std::string>{"first", "second"}), stops);
  EXPECT_EQ(Krovane::Cancelled, operation.GetState());
}
