#include "support/ClientOrb.h"

#include <gtest/gtest.h>

#include <string>

namespace KroTest
{
  namespace
  {
    // Owns the ORB from its first use to the end of the test program.
    class ClientOrbEnvironment : public ::testing::Environment
    {
    public:
      CORBA::ORB_ptr Orb()
      {
        if (CORBA::is_nil(m_orb.in()))
        {
          const char* options[] = {"kro-process-test",
                                   "-ORBendPoint", "giop:tcp:127.0.0.1:",
                                   "-ORBclientCallTimeOutPeriod", "20000",
                                   nullptr};
          int argc = 5;
          m_orb = CORBA::ORB_init(argc, const_cast<char**>(options));
        }
        return CORBA::ORB::_duplicate(m_orb.in());
      }

      void TearDown() override
      {
        if (!CORBA::is_nil(m_orb.in()))
          m_orb->destroy();
        m_orb = CORBA::ORB::_nil();
      }

    private:
      CORBA::ORB_var m_orb;  // nil until first used
    };

    // gtest owns the environment once added.
    ClientOrbEnvironment* const s_environment = static_cast<ClientOrbEnvironment*>(
      ::testing::AddGlobalTestEnvironment(new ClientOrbEnvironment));
  }

  CORBA::ORB_ptr ClientOrb()
  {
    return s_environment->Orb();
  }

  CORBA::Object_ptr ObjectFromIor(const std::string& ior)
  {
    CORBA::ORB_var orb = ClientOrb();
    return orb->string_to_object(ior.c_str());
  }
}
