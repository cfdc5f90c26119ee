// KroBenchGrpcServer: the benchmark's gRPC baseline, the same job server
// with gRPC's callback API and the bare baseline's pool of worker threads.
//
//   KroBenchGrpcServer --address-file PATH [--pool-threads N]
//
// Listens on 127.0.0.1 at a port the system picks, writes host:port to PATH
// (atomically, once it serves) and serves until it is killed (the
// benchmark's driver ends it).
#include "BareWorkerPool.h"
#include "GrpcJobsService.h"

#include <grpcpp/grpcpp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

namespace
{
  bool WriteAddressFile(const std::string& path, const std::string& address)
  {
    const std::string partial = path + ".partial";
    {
      std::ofstream file(partial);
      file << address << '\n';
      if (!file.flush())
        return false;
    }
    return std::rename(partial.c_str(), path.c_str()) == 0;
  }
}

int main(int argc, char** argv)
{
  std::string addressFile;
  int poolThreads = 5;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--address-file") == 0)
      addressFile = argv[++i];
    else if (std::strcmp(argv[i], "--pool-threads") == 0)
      poolThreads = std::atoi(argv[++i]);
  if (addressFile.empty() || poolThreads < 1)
  {
    std::fprintf(stderr, "usage: %s --address-file PATH [--pool-threads N]\n", argv[0]);
    return 2;
  }
  KroBench::BareWorkerPool pool(poolThreads);
  KroBench::GrpcJobsService service(pool);
  int port = 0;
  grpc::ServerBuilder builder;
  builder.AddListeningPort("127.0.0.1:0", grpc::InsecureServerCredentials(), &port);
  builder.RegisterService(&service);
  std::unique_ptr<grpc::Server> server = builder.BuildAndStart();
  if (!server || port == 0)
  {
    std::fprintf(stderr, "KroBenchGrpcServer: could not listen on 127.0.0.1\n");
    return 1;
  }
  if (!WriteAddressFile(addressFile, "127.0.0.1:" + std::to_string(port)))
  {
    std::fprintf(stderr, "KroBenchGrpcServer: could not write %s\n", addressFile.c_str());
    return 1;
  }
  server->Wait();
  return 0;
}
