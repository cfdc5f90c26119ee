// CalculatorFactory: the asynchronous example's factory servant.
// CreateObject gives each client a calculator of its own: a
// CalculatorAccount that stands for the client's user and a
// CalculatorRouter that serves it, both active in the server-object POA;
// the router is entered in the object table and returned.
//
// Owned by the root POA once activated (reference counted); main creates
// it. Any ORB request thread may call CreateObject.
#ifndef KRO_EXAMPLES_CALCULATORFACTORY_H
#define KRO_EXAMPLES_CALCULATORFACTORY_H

#include "KroServer/ServerFactoryImpl.h"

#include <ace/Time_Value.h>

namespace KroExample
{
  // How the calculators work (see CalculatorRouter).
  struct CalculatorSettings
  {
    int maxThreads = 2;                      // the pool's maximum (the first router sets it)
    ACE_Time_Value stepTime{0, 250000};      // the least time of one step of work
    int callbackTimeout = 10;                // seconds a client's handler may take per callback
  };

  class CalculatorFactory : public Krovane::ServerFactoryImpl
  {
  public:
    // serverObjectPOA: where accounts, calculators and relays are activated.
    CalculatorFactory(PortableServer::POA_ptr serverObjectPOA, const CalculatorSettings& settings);

    // IServerFactory: a new calculator (a Calculator::ICalculator) working
    // for token; the caller owns the returned reference.
    Krovane::ISyncServer_ptr CreateObject(const Krovane::UserToken& token) override;

  private:
    const CalculatorSettings m_settings;  // given to every calculator
  };
}

#endif
