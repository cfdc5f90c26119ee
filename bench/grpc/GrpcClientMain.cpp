// KroBenchGrpcClient: the gRPC baseline's client, the same load as
// KroBenchClient's: N client threads, each with a connection of its own,
// repeating a job (submitted, then read until finished) or a ping.
//
//   KroBenchGrpcClient --address-file PATH [--server-pid PID] [--clients N]
//                      [--steps N] [--ping] [--seconds S] [--warmup S]
//
// It prints one line: RESULT followed by key=value pairs (target=grpc).
// Exit status: 0 when every operation went through, 1 otherwise, 2 on a
// usage error.
#include "GrpcSession.h"
#include "LoadRun.h"
#include "ResultLine.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace
{
  struct Options
  {
    std::string addressFile;
    pid_t serverPid = 0;
    int clients = 1;
    int steps = 0;
    bool ping = false;
    double seconds = 3;
    double warmup = 0.5;
  };

  bool Parse(int argc, char** argv, Options& options)
  {
    for (int i = 1; i < argc; ++i)
    {
      const std::string name = argv[i];
      const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
      auto takes = [&]() { return value && ++i; };
      if (name == "--address-file" && takes())
        options.addressFile = value;
      else if (name == "--server-pid" && takes())
        options.serverPid = std::atoi(value);
      else if (name == "--clients" && takes())
        options.clients = std::atoi(value);
      else if (name == "--steps" && takes())
        options.steps = std::atoi(value);
      else if (name == "--seconds" && takes())
        options.seconds = std::atof(value);
      else if (name == "--warmup" && takes())
        options.warmup = std::atof(value);
      else if (name == "--ping")
        options.ping = true;
      else
        return false;
    }
    return !options.addressFile.empty() && options.clients > 0 && options.steps >= 0 && options.seconds > 0;
  }
}

int main(int argc, char** argv)
{
  Options options;
  if (!Parse(argc, argv, options))
  {
    std::fprintf(stderr,
                 "usage: %s --address-file PATH [--server-pid PID] [--clients N] [--steps N] [--ping]\n"
                 "       [--seconds S] [--warmup S]\n", argv[0]);
    return 2;
  }
  std::string address;
  if (!(std::ifstream(options.addressFile) >> address))
  {
    std::fprintf(stderr, "KroBenchGrpcClient: cannot read %s\n", options.addressFile.c_str());
    return 1;
  }
  KroBench::LoadRun run(options.clients, [&]() -> std::unique_ptr<KroBench::ClientSession>
  {
    return std::make_unique<KroBench::GrpcSession>(address, options.steps, options.ping);
  }, options.serverPid);
  const KroBench::LoadResult result = run.Measure(options.warmup, 0, options.seconds);
  KroBench::PrintResultLine("grpc", options.steps, options.clients, options.ping, result);
  return result.errors == 0 && result.operations > 0 ? 0 : 1;
}
