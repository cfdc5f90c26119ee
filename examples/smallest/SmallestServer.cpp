// KroSmallestServer: the smallest server of the family, written with the
// kit: one synchronous request (Shout) and one asynchronous operation with
// progress (Count). It takes the kit's options (KroKit/ServerOptions.h):
//   KroSmallestServer --ior-file worker.ior -ORBendPoint giop:tcp:127.0.0.1:
// and keeps its workers and counts across restarts with a journal on a
// fixed port:
//   KroSmallestServer --journal counts.db --ior-file worker.ior -ORBendPoint giop:tcp:127.0.0.1:9123
#include "Smallest.hh"

#include "KroKit/AsyncRouter.h"
#include "KroKit/ServerProcess.h"

#include <ace/OS_NS_unistd.h>

#include <cctype>

// Each client gets a worker of its own; it serves no other object.
struct Worker : public virtual POA_Smallest::IWorker, public KroKit::AsyncRouter
{
  using KroKit::AsyncRouter::AsyncRouter;

  char* Shout(const char* text) override
  {
    std::string loud(text);
    for (char& c : loud) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return CORBA::string_dup(loud.c_str());
  }

  CORBA::Long Count(CORBA::Long steps, CORBA::Long stepMillis, Krovane::IAsyncHandler_ptr handler) override
  {
    // Counting again from the start is harmless: the work may be rerun.
    return Submit("Count", handler, {steps, stepMillis}, Krovane::Restartable::Yes);
  }

  // On a pool thread: one Progress per step, then the count as Results.
  void Execute(KroKit::OperationContext& operation) override
  {
    const long steps = operation.Parameter(0).AsInteger();
    if (steps < 1 || steps > 1000)
      operation.Fail("steps must be 1 to 1000, not " + std::to_string(steps));  // the client's Error
    for (long step = 1; step <= steps; ++step)
    {
      ACE_OS::sleep(ACE_Time_Value(0, 1000 * operation.Parameter(1).AsInteger()));  // the work
      operation.CheckCancelled();
      operation.Progress(static_cast<double>(step) / steps);
    }
    operation.ResultsOf(static_cast<CORBA::Long>(steps));
  }
};

int main(int argc, char** argv)
{
  KroKit::ServerOptions options;  // --ior-file, --threads, --max-threads, ... and -ORB options
  if (!options.ParseOrExplain(argc, argv))
    return options.UsageStatus();
  KroKit::ServerProcess process("KroSmallestServer");
  KroKit::ServerProcess::Exit(process.RunObjects<Worker>(options));  // serves until idle or SIGTERM
}
