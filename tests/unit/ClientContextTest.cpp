// The user-token service context that outgoing requests carry, built and
// read back by the client interceptor without a network: its layout, its
// replacement on a resend, and what the calling thread gets back.
#include "KroServer/KroClientInterceptor.h"
#include "KroServer/OperationHandles.h"
#include "KroServer/OpnType.h"
#include "KroServer/SynchronousOperation.h"

#include "Dazadared/threadLocalUserPacket.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

using Krovane::KroClientInterceptor;
using Krovane::OperationHandles;
using Krovane::SynchronousOperation;
using PortableInterceptor::ClientRequestInfo;

namespace
{
  const IOP::ServiceID kUserToken = 0xDEADBEEF;

  std::string ContextBytes(const IOP::ServiceContextList& contexts)
  {
    EXPECT_EQ(1u, contexts.length());
    const IOP::ServiceContext& context = contexts[0];
    EXPECT_EQ(kUserToken, context.context_id);
    return std::string(reinterpret_cast<const char*>(context.context_data.get_buffer()),
                       context.context_data.length());
  }

  std::string HandleBytes(SynchronousOperation* operation)
  {
    const CORBA::ULong handle = OperationHandles::HandleOf(operation);
    return std::string(reinterpret_cast<const char*>(&handle), 4);
  }

  // The thread's user and current operation, set for one test and put back.
  class ThreadState
  {
  public:
    ThreadState(const std::string& token, SynchronousOperation* operation)
    {
      Set(token, operation);
    }
    ~ThreadState() { Set("", nullptr); }
    static void Set(const std::string& token, SynchronousOperation* operation)
    {
      Halvern_Utilities::threadLocalUserPacket->SetToken(token);
      Krovane::threadLocalOperation->m_operation = operation;
    }
  };

  struct ClientContext : ::testing::Test
  {
    PortableInterceptor::ClientRequestInterceptor_var interceptor = new KroClientInterceptor;
    IOP::ServiceContextList contexts;
    SynchronousOperation operation{CORBA::Object::_nil(), "Outer"};
  };
}

TEST_F(ClientContext, ResendReplacesTheContext)
{
  ThreadState state("first", &operation);
  ClientRequestInfo sending("Call", contexts, true);
  interceptor->send_request(&sending);
  ThreadState::Set("second", &operation);
  interceptor->send_request(&sending);
  EXPECT_EQ(HandleBytes(&operation) + std::string("second"), ContextBytes(contexts));
}

TEST_F(ClientContext, HandleOfADeletedRecordMapsToNothing)
{
  std::unique_ptr<SynchronousOperation> gone(new SynchronousOperation(CORBA::Object::_nil(), "Gone"));
  const CORBA::ULong handle = OperationHandles::HandleOf(gone.get());
  EXPECT_NE(0u, handle);
  EXPECT_NE(handle, OperationHandles::HandleOf(&operation));
  gone.reset();
  EXPECT_EQ(nullptr, OperationHandles::OperationOf(handle));
  EXPECT_EQ(0u, OperationHandles::HandleOf(nullptr));
}

TEST(ClientRequestInfo, AddsReplacesAndRefusesContextsAsAsked)
{
  IOP::ServiceContextList contexts;
  ClientRequestInfo sending("Call", contexts, true);
  EXPECT_THROW(std::unique_ptr<IOP::ServiceContext>(sending.get_request_service_context(7)),
               CORBA::BAD_PARAM);

  IOP::ServiceContext context;
  context.context_id = 7;
  context.context_data.length(1);
  context.context_data[0] = 1;
  sending.add_request_service_context(context, false);
  EXPECT_THROW(sending.add_request_service_context(context, false), CORBA::BAD_INV_ORDER);

  context.context_data[0] = 2;
  sending.add_request_service_context(context, true);
  ASSERT_EQ(1u, contexts.length());
  std::unique_ptr<IOP::ServiceContext> found(sending.get_request_service_context(7));
  EXPECT_EQ(2, found->context_data[0]);

  ClientRequestInfo received("Call", contexts, false);
  EXPECT_THROW(received.add_request_service_context(context, true), CORBA::BAD_INV_ORDER);
}
