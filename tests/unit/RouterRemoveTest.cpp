// Removing a router: it leaves whole or not at all, and takes with it the
// exception holders it made that no client raised.
#include "OrbFixture.h"

#include "KroServer/AsyncExceptionHolderImpl.h"
#include "KroServer/AsynchronousRouter.h"

#include <gtest/gtest.h>

using KroTest::ActiveServant;
using KroTest::InTable;
using KroTest::OrbEnvironment;

namespace
{
  // A router whose work is never run here.
  class IdleRouter : public Krovane::AsynchronousRouter
  {
  public:
    explicit IdleRouter(Krovane::IAsyncServer_ptr served)
      : Krovane::AsynchronousRouter(OrbEnvironment::TablePOA(), served, 5, 0)
    {
    }
    void ExecuteOperation(const std::string&, std::vector<Halvern_Utilities::Variant>*) override {}
  };

  bool IsActive(PortableServer::POA_ptr poa, Krovane::IAsyncExceptionHolder_ptr holder)
  {
    PortableServer::ObjectId_var id = poa->reference_to_id(holder);
    try
    {
      PortableServer::ServantBase_var servant = poa->id_to_servant(id.in());
      return true;
    }
    catch (const PortableServer::POA::ObjectNotActive&)
    {
      return false;
    }
  }
}

TEST(AsynchronousRouter, RemoveServingNoObjectLeavesWholeAndRetiresItsUnraisedHolders)
{
  PortableServer::POA_ptr poa = OrbEnvironment::TablePOA();
  IdleRouter* router = new IdleRouter(Krovane::IAsyncServer::_nil());
  ActiveServant active(poa, router);
  ASSERT_EQ(1, OrbEnvironment::Table()->AddObject(active.Ref()));
  Krovane::IAsyncExceptionHolder_var first =
    router->CreateKroExceptionHolder(new Krovane::AsyncExceptionHolderImpl("first"));
  Krovane::IAsyncExceptionHolder_var second =
    router->CreateKroExceptionHolder(new Krovane::AsyncExceptionHolderImpl("second"));
  ASSERT_TRUE(IsActive(poa, first.in()) && IsActive(poa, second.in()));

  EXPECT_NO_THROW(router->Remove());
  EXPECT_FALSE(InTable(active.Id()));
  EXPECT_FALSE(IsActive(poa, first.in()));
  EXPECT_FALSE(IsActive(poa, second.in()));
}

TEST(AsynchronousRouter, RemoveOfARouterServingAnObjectOfAnotherPOAChangesNothing)
{
  PortableServer::POA_ptr poa = OrbEnvironment::TablePOA();
  IdleRouter* elsewhere = new IdleRouter(Krovane::IAsyncServer::_nil());
  ActiveServant served(OrbEnvironment::OtherPOA(), elsewhere);
  Krovane::IAsyncServer_var servedRef = Krovane::IAsyncServer::_narrow(served.Ref());
  IdleRouter* router = new IdleRouter(servedRef.in());
  ActiveServant active(poa, router);
  ASSERT_EQ(1, OrbEnvironment::Table()->AddObject(active.Ref()));

  EXPECT_THROW(router->Remove(), PortableServer::POA::WrongAdapter);
  EXPECT_TRUE(InTable(active.Id()));
  ASSERT_EQ(1, OrbEnvironment::Table()->RemoveObject(active.Ref()));
}
