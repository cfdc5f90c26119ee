// What the per-user bounds cost while they are set: each submission (queue
// bound) and each new server object (object bound) walks the user's objects
// in the process's object table. Measured for tables of 10 to 1000 objects
// of 10 users; with no bound set nothing is walked.
#include "KroServer/ServerObjectTable.h"
#include "KroServer/SyncServerImpl.h"
#include "KroServer/UnguessableObjectIds.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace
{
  // An ORB, a server-object POA and a table of objects, made once.
  struct Table
  {
    Table()
    {
      int argc = 0;
      orb = CORBA::ORB_init(argc, nullptr);
      CORBA::Object_var object = orb->resolve_initial_references("RootPOA");
      PortableServer::POA_var root = PortableServer::POA::_narrow(object.in());
      PortableServer::POAManager_var manager = root->the_POAManager();
      CORBA::PolicyList policies;
      policies.length(2);
      policies[0] = root->create_id_assignment_policy(PortableServer::USER_ID);
      policies[1] = root->create_servant_retention_policy(PortableServer::RETAIN);
      poa = root->create_POA("Objects", manager.in(), policies);
      table = Krovane::ServerObjectTable::Instance(poa.in());
    }

    // Grows the table to count objects, users u0 to u9 in turn.
    void GrowTo(int count)
    {
      while (static_cast<int>(servants.size()) < count)
      {
        Krovane::SyncServerImpl* servant = new Krovane::SyncServerImpl(poa.in(), 0);
        const std::string user = "u" + std::to_string(servants.size() % 10);
        Krovane::UserToken token(static_cast<CORBA::ULong>(user.size()));
        token.length(static_cast<CORBA::ULong>(user.size()));
        for (CORBA::ULong i = 0; i < token.length(); ++i)
          token[i] = static_cast<CORBA::Octet>(user[i]);
        servant->SetUserToken(token);
        PortableServer::ObjectId_var id = Krovane::UnguessableObjectIds::Activate(poa.in(), servant);
        CORBA::Object_var reference = poa->id_to_reference(id.in());
        Krovane::ISyncServer_var server = Krovane::ISyncServer::_narrow(reference.in());
        table->AddObject(server.in());
        servants.push_back(servant);
      }
    }

    CORBA::ORB_var orb;
    PortableServer::POA_var poa;
    Krovane::ServerObjectTable* table;
    std::vector<PortableServer::ServantBase_var> servants;  // kept for the process
  };

  Table& TheTable()
  {
    static Table* table = new Table;  // lives to process end, as the ORB
    return *table;
  }

  // The walk a submission makes while a queue bound is set.
  void QueuedOperationsOfOneUser(benchmark::State& state)
  {
    Table& table = TheTable();
    table.GrowTo(static_cast<int>(state.range(0)));
    for (auto _ : state)
      benchmark::DoNotOptimize(table.table->QueuedOperationsOf("u1"));
  }
  BENCHMARK(QueuedOperationsOfOneUser)->Arg(10)->Arg(100)->Arg(1000);
}
