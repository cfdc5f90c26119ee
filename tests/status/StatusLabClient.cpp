// StatusLabClient: a client process for the status endpoint's tests. It
// asks a calculator of KroExampleAsyncServer for --compute N computations
// of --steps S steps each, as user --token, cancels those --cancel names
// (their order of submission, from 1) once all are submitted, and waits for
// every one to end, one line on standard output per event:
//   submitted ORDER ID | cancelled ID | ended ID finished|cancelled PROGRESS | done
// Exit status 0 when every operation ended within --wait-seconds, 1 if not.
#include "AsyncHandlerServant.h"
#include "Calculator.hh"
#include "KroKit/IorFile.h"
#include "KroKit/UserTokenText.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace
{
  // Watches one operation for its end: Finished, or the Status that tells a
  // waiting operation it was cancelled (it then never runs).
  class EndWatcher : public KroExample::AsyncHandlerServant
  {
  public:
    void Queued(CORBA::Long) override {}
    void Status(const char* text) override
    {
      if (std::strncmp(text, "Queued AsynchronousOperation Cancelled", 38) == 0)
        Finished(CORBA::Any());
    }
    void Progress(CORBA::Double progress) override
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_progress = progress;
    }
    void Results(const CORBA::Any&) override {}
    void Error(Krovane::IAsyncExceptionHolder_ptr) override {}
    void Finished(const CORBA::Any&) override
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_finished = true;
      m_changed.notify_all();
    }
    // Waits for Finished until deadline; the last progress told.
    bool WaitForEnd(std::chrono::steady_clock::time_point deadline, double& progress)
    {
      std::unique_lock<std::mutex> lock(m_lock);
      const bool ended = m_changed.wait_until(lock, deadline, [this] { return m_finished; });
      progress = m_progress;
      return ended;
    }

  private:
    std::mutex m_lock;                  // guards m_progress and m_finished
    std::condition_variable m_changed;  // signalled at Finished
    double m_progress = 0;              // the last progress told
    bool m_finished = false;            // Finished came
  };

  struct Options
  {
    std::string iorFile;
    std::string token = "status-user";
    int compute = 1;
    int steps = 4;
    int waitSeconds = 60;
    std::set<int> cancel;  // orders of submission, from 1
  };

  bool Parse(int argc, char** argv, Options& options, std::vector<char*>& orbArgs)
  {
    orbArgs.push_back(argv[0]);
    for (int i = 1; i < argc; ++i)
    {
      const std::string name = argv[i];
      if (name.rfind("-ORB", 0) == 0 && i + 1 < argc)
      {
        orbArgs.push_back(argv[i]);
        orbArgs.push_back(argv[++i]);
        continue;
      }
      if (i + 1 >= argc)
        return false;
      const char* value = argv[++i];
      if (name == "--ior-file") options.iorFile = value;
      else if (name == "--token") options.token = value;
      else if (name == "--compute") options.compute = std::atoi(value);
      else if (name == "--steps") options.steps = std::atoi(value);
      else if (name == "--wait-seconds") options.waitSeconds = std::atoi(value);
      else if (name == "--cancel") options.cancel.insert(std::atoi(value));
      else return false;
    }
    orbArgs.push_back(nullptr);
    return !options.iorFile.empty() && options.compute > 0;
  }

  int Session(CORBA::ORB_ptr orb, const Options& options)
  {
    CORBA::Object_var object = orb->resolve_initial_references("RootPOA");
    PortableServer::POA_var root = PortableServer::POA::_narrow(object.in());
    PortableServer::POAManager_var manager = root->the_POAManager();
    manager->activate();

    object = orb->string_to_object(KroKit::ReadIorFile(options.iorFile).c_str());
    Krovane::IServerFactory_var factory = Krovane::IServerFactory::_narrow(object.in());
    Krovane::ISyncServer_var server = factory->CreateObject(KroKit::TokenFromText(options.token));
    Calculator::ICalculator_var calculator = Calculator::ICalculator::_narrow(server.in());

    std::vector<PortableServer::ServantBase_var> servants;
    std::vector<EndWatcher*> watchers;
    std::vector<CORBA::Long> ids;
    for (int order = 1; order <= options.compute; ++order)
    {
      EndWatcher* watcher = new EndWatcher;
      servants.emplace_back(watcher);
      PortableServer::ObjectId_var oid = root->activate_object(watcher);
      CORBA::Object_var reference = root->id_to_reference(oid.in());
      Krovane::IAsyncHandler_var handler = Krovane::IAsyncHandler::_narrow(reference.in());
      const CORBA::Long id = calculator->Compute("pi", options.steps, handler.in());
      watchers.push_back(watcher);
      ids.push_back(id);
      std::printf("submitted %d %d\n", order, static_cast<int>(id));
      std::fflush(stdout);
    }
    for (int order : options.cancel)
      if (order >= 1 && order <= options.compute)
      {
        calculator->CancelOperation(ids[order - 1]);
        std::printf("cancelled %d\n", static_cast<int>(ids[order - 1]));
        std::fflush(stdout);
      }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.waitSeconds);
    bool allEnded = true;
    for (std::size_t i = 0; i < ids.size(); ++i)
    {
      double progress = 0;
      if (!watchers[i]->WaitForEnd(deadline, progress))
      {
        allEnded = false;
        continue;
      }
      const Krovane::OperationState state = calculator->GetOperationState(ids[i]);
      std::printf("ended %d %s %.3f\n", static_cast<int>(ids[i]),
                  state == Krovane::Cancelled ? "cancelled" : "finished", progress);
      std::fflush(stdout);
    }
    calculator->Remove();
    std::printf("done\n");
    std::fflush(stdout);
    return allEnded ? 0 : 1;
  }
}

int main(int argc, char** argv)
{
  Options options;
  std::vector<char*> orbArgs;
  if (!Parse(argc, argv, options, orbArgs))
  {
    std::fprintf(stderr, "usage: %s --ior-file PATH [--token USER] [--compute N] [--steps S] "
                         "[--cancel ORDER]... [--wait-seconds N] [ORB options]\n", argv[0]);
    return 2;
  }
  int orbArgc = static_cast<int>(orbArgs.size()) - 1;
  CORBA::ORB_var orb = CORBA::ORB_init(orbArgc, orbArgs.data());
  int status = 1;
  try
  {
    status = Session(orb.in(), options);
  }
  catch (const CORBA::Exception& ex)
  {
    std::fprintf(stderr, "StatusLabClient: %s\n", ex._name());
  }
  orb->destroy();
  return status;
}
