// The utility library: user packets, variants, exceptions, the machine
// description and the job controller.
#include "Dazadared/Exception.h"
#include "Dazadared/Job.h"
#include "Dazadared/JobController.h"
#include "Dazadared/MachineInfo.h"
#include "Dazadared/UserPacket.h"
#include "Dazadared/Variant.h"
#include "Dazadared/threadLocalUserPacket.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using Halvern_Utilities::Exception;
using Halvern_Utilities::Job;
using Halvern_Utilities::JobController;
using Halvern_Utilities::UserPacket;
using Halvern_Utilities::Variant;

namespace
{
  const std::string kNulToken("\0ab\0c\0", 6);

  // Thread ids no real thread has; each test uses its own.
  const unsigned long kFindThread = 0x7e570001UL;
  const unsigned long kTwiceThread = 0x7e570002UL;
  const unsigned long kReserveThread = 0x7e570003UL;
  const unsigned long kStressThread = 0x7e570004UL;
}

TEST(UserPacket, KeepsTokensWithEmbeddedNulsWholeThroughCopies)
{
  UserPacket packet;
  EXPECT_EQ("", packet.GetToken());
  packet.SetToken(kNulToken);
  EXPECT_EQ(kNulToken, packet.GetToken());

  UserPacket copy(packet);
  EXPECT_EQ(kNulToken, copy.GetToken());
  UserPacket assigned;
  assigned = packet;
  EXPECT_EQ(kNulToken, assigned.GetToken());

  packet.SetToken(std::string(1, '\0'));
  EXPECT_EQ(std::string(1, '\0'), packet.GetToken());
  EXPECT_EQ(kNulToken, copy.GetToken());  // copies are independent
}

TEST(UserPacket, ThreadLocalPacketIsPerThread)
{
  Halvern_Utilities::threadLocalUserPacket->SetToken(kNulToken);

  std::string seenByOther = "unset";
  std::string otherAfterSet;
  std::thread other([&] {
    seenByOther = Halvern_Utilities::threadLocalUserPacket->GetToken();
    Halvern_Utilities::threadLocalUserPacket->SetToken(std::string("x\0y", 3));
    otherAfterSet = Halvern_Utilities::threadLocalUserPacket->GetToken();
  });
  other.join();

  EXPECT_EQ("", seenByOther);  // a new thread starts with an empty packet
  EXPECT_EQ(std::string("x\0y", 3), otherAfterSet);
  EXPECT_EQ(kNulToken, Halvern_Utilities::threadLocalUserPacket->GetToken());
  Halvern_Utilities::threadLocalUserPacket->SetToken("");
}

TEST(Variant, EachKindRoundTrips)
{
  EXPECT_TRUE(Variant().IsEmpty());
  EXPECT_EQ(Variant::Empty, Variant().GetKind());

  EXPECT_EQ(Variant::Bool, Variant(true).GetKind());
  EXPECT_FALSE(Variant(false).AsBool());

  EXPECT_EQ(-42, Variant(-42).AsInteger());
  EXPECT_EQ(1LL << 40, Variant(1LL << 40).AsInteger());
  EXPECT_EQ(Variant::Integer, Variant(7L).GetKind());

  EXPECT_DOUBLE_EQ(2.5, Variant(2.5).AsDouble());
  EXPECT_DOUBLE_EQ(3.0, Variant(3).AsDouble());  // the one allowed conversion

  EXPECT_EQ(kNulToken, Variant(kNulToken).AsText());
  EXPECT_EQ("", Variant(static_cast<const char*>(nullptr)).AsText());
  EXPECT_EQ(Variant::Text, Variant("abc").GetKind());

  const Variant::ByteVector bytes = {0x00, 0xff, 0x80};
  EXPECT_EQ(bytes, Variant(bytes).AsBytes());

  Variant copy = Variant(bytes);
  EXPECT_EQ(Variant(bytes), copy);
  EXPECT_NE(Variant(1), Variant(1.0));   // kinds differ
  EXPECT_NE(Variant(1), Variant(true));
  EXPECT_NE(Variant("1"), Variant(1));

  EXPECT_EQ("<empty>", Variant().ToString());
  EXPECT_EQ("true", Variant(true).ToString());
  EXPECT_EQ("42", Variant(42).ToString());
  EXPECT_EQ("2.5", Variant(2.5).ToString());
  EXPECT_EQ("\"text\"", Variant("text").ToString());
  EXPECT_EQ("<3 bytes>", Variant(bytes).ToString());
}

TEST(Variant, WrongKindRaisesWithReasonAndPlace)
{
  auto reasonOf = [](auto read) -> std::string {
    try
    {
      read();
    }
    catch (const Exception& ex)
    {
      return ex.ClassName() + "::" + ex.MethodName() + ": " + ex.Reason();
    }
    return "no exception";
  };
  EXPECT_EQ("Variant::AsInteger: the value is text", reasonOf([] { Variant("1").AsInteger(); }));
  EXPECT_EQ("Variant::AsInteger: the value is double", reasonOf([] { Variant(1.0).AsInteger(); }));
  EXPECT_EQ("Variant::AsBool: the value is integer", reasonOf([] { Variant(1).AsBool(); }));
  EXPECT_EQ("Variant::AsDouble: the value is bool", reasonOf([] { Variant(true).AsDouble(); }));
  EXPECT_EQ("Variant::AsText: the value is empty", reasonOf([] { Variant().AsText(); }));
  EXPECT_EQ("Variant::AsBytes: the value is text", reasonOf([] { Variant("x").AsBytes(); }));
}

TEST(Exception, ReasonAndTraceFollowThePlacesPassed)
{
  try
  {
    try
    {
      throw Exception("Pool", "Start", "no threads");
    }
    catch (Exception& ex)
    {
      ex.AppendTrace("Task", "open");
      throw;
    }
  }
  catch (const Exception& caught)
  {
    Exception ex(caught);  // the copy keeps everything
    EXPECT_EQ("no threads", ex.Reason());
    EXPECT_EQ("> Pool::Start\n> Task::open\n> reason: no threads\n", ex.Trace("> "));
    EXPECT_EQ("Pool::Start\nTask::open\nreason: no threads\n", ex.Trace(""));
    return;
  }
  FAIL() << "not caught";
}

TEST(MachineInfo, NamesTheHostAndTheCores)
{
  const std::string info = Halvern_Utilities::GetMachineInfo();
  ASSERT_FALSE(info.empty());
  char host[256] = {0};
  ASSERT_EQ(0, gethostname(host, sizeof host - 1));
  EXPECT_NE(std::string::npos, info.find("Host: " + std::string(host) + "\n")) << info;
  EXPECT_NE(std::string::npos, info.find("Cores: " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + "\n"))
    << info;
}

namespace
{
  // A job that notes the order in which jobs are stopped.
  class RecordingJob : public Job
  {
  public:
    RecordingJob(unsigned long threadId, std::string name, std::vector<std::string>* stops)
      : Job(threadId), m_name(std::move(name)), m_stops(stops)
    {
    }

  protected:
    void OnCancel() override { m_stops->push_back(m_name); }

  private:
    std::string m_name;
    std::vector<std::string>* m_stops;
  };
}

TEST(JobController, FindJobYieldsTheNextJobAfterEachCancel)
{
  JobController* controller = JobController::Instance();
  std::vector<std::string> stops;
  RecordingJob first(kFindThread, "first", &stops);
  RecordingJob second(kFindThread, "second", &stops);
  controller->Register(&first);
  controller->Register(&second);
  controller->Register(nullptr);  // ignored
  EXPECT_EQ(2u, controller->NumJobs(kFindThread));
  EXPECT_EQ(nullptr, controller->FindJob(kFindThread + 100));

  Job* found = controller->FindJob(kFindThread);
  ASSERT_EQ(&first, found);
  found->Cancel();
  EXPECT_TRUE(first.IsCancelled());
  found = controller->FindJob(kFindThread);
  ASSERT_EQ(&second, found);
  found->Cancel();
  EXPECT_EQ(nullptr, controller->FindJob(kFindThread));

  EXPECT_EQ((std::vector<std::string>{"first", "second"}), stops);
  EXPECT_EQ(0u, controller->NumJobs(kFindThread));
}

TEST(JobController, JobRegisteredTwiceComesBackAfterItsCancel)
{
  JobController* controller = JobController::Instance();
  std::vector<std::string> stops;
  RecordingJob job(kTwiceThread, "twice", &stops);
  controller->Register(&job);
  controller->Register(&job);

  ASSERT_EQ(&job, controller->FindJob(kTwiceThread));
  job.Cancel();
  EXPECT_EQ(&job, controller->FindJob(kTwiceThread));  // the canceller's cue to stop
  job.Cancel();                                         // stops the work once only
  EXPECT_EQ((std::vector<std::string>{"twice"}), stops);
  EXPECT_EQ(nullptr, controller->FindJob(kTwiceThread));

  controller->Register(&job);
  controller->Register(&job);
  controller->Unregister(&job);  // takes out every entry
  EXPECT_EQ(0u, controller->NumJobs(kTwiceThread));
}

TEST(JobController, UnregisterWaitsWhileAnotherThreadHoldsTheFoundJob)
{
  JobController* controller = JobController::Instance();
  Job job(kReserveThread);
  controller->Register(&job);
  ASSERT_EQ(&job, controller->FindJob(kReserveThread));

  std::future<void> unregistered =
    std::async(std::launch::async, [&] { controller->Unregister(&job); });
  EXPECT_EQ(std::future_status::timeout, unregistered.wait_for(std::chrono::milliseconds(50)));
  controller->ReleaseFoundJob();
  ASSERT_EQ(std::future_status::ready, unregistered.wait_for(std::chrono::seconds(10)));
  EXPECT_EQ(0u, controller->NumJobs(kReserveThread));
}

namespace
{
  // A job whose cancellation touches its own state: a canceller reaching a
  // deleted job shows up under the sanitizers.
  class CountingJob : public Job
  {
  public:
    explicit CountingJob(unsigned long threadId) : Job(threadId), m_stops(0) {}
    int Stops() const { return m_stops.load(); }

  protected:
    void OnCancel() override { ++m_stops; }

  private:
    std::atomic<int> m_stops;
  };
}

TEST(JobController, CancellingWhileJobsComeAndGoTouchesNoDeletedJob)
{
  JobController* controller = JobController::Instance();
  // The owner goes on until the canceller has really met its jobs (or a
  // bound in rounds or time is reached).
  const int minRounds = 3000;
  const int maxRounds = 100000000;  // in practice the time bound or the wanted cancels end it
  const int wantedCancels = 500;
  // What the check asks for: on a loaded machine (sanitizers, parallel
  // tests) the time bound may end the run before the wanted count.
  const int enoughCancels = 50;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::atomic<bool> ownerDone(false);
  std::atomic<int> cancels(0);

  std::thread owner([&] {
    for (int round = 0; round < maxRounds && std::chrono::steady_clock::now() < deadline &&
                        (round < minRounds || cancels.load() < wantedCancels);
         ++round)
    {
      switch (round % 3)
      {
        case 0:
        {
          // The guarded way: withdrawn before it is destroyed.
          CountingJob* job = new CountingJob(kStressThread);
          controller->Register(job);
          controller->Unregister(job);
          delete job;
          break;
        }
        case 1:
        {
          // Registered twice, then destroyed while still registered.
          Job* job = new Job(kStressThread);
          controller->Register(job);
          controller->Register(job);
          delete job;
          break;
        }
        default:
        {
          CountingJob first(kStressThread);
          CountingJob second(kStressThread);
          controller->Register(&first);
          controller->Register(&second);
          controller->Unregister(&second);
          controller->Unregister(&first);
          break;
        }
      }
    }
    ownerDone = true;
  });

  std::thread canceller([&] {
    for (long pass = 0; pass < 10000000L && std::chrono::steady_clock::now() < deadline; ++pass)
    {
      const bool last = ownerDone.load();
      Job* previous = nullptr;
      for (int found = 0; found < 10; ++found)
      {
        Job* job = controller->FindJob(kStressThread);
        if (!job || job == previous)
          break;
        job->Cancel();
        ++cancels;
        previous = job;
      }
      controller->ReleaseFoundJob();
      if (last)
        break;
    }
  });

  owner.join();
  canceller.join();
  EXPECT_TRUE(ownerDone.load());
  EXPECT_EQ(0u, controller->NumJobs(kStressThread));
  EXPECT_GE(cancels.load(), enoughCancels);
}
