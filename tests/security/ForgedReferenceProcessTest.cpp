// A hostile second client of the asynchronous example server: from the key
// of its own calculator's reference it forges references to the objects
// beside it (the id read as a number, plus or minus a little; single bits
// flipped) and tries every operation of a calculator, a relay and an
// exception holder on each. Every call must end in OBJECT_NOT_EXIST, and
// the other clients' work must go on as if nothing had happened.
#include "CalculatorServer.h"

#include "support/ClientOrb.h"
#include "support/LogLines.h"

#include <omniORB4/IIOP.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace
{
  using Octets = std::vector<CORBA::Octet>;

  // Where an object lives, as its reference tells anyone who holds it.
  struct Address
  {
    std::string host;
    CORBA::UShort port = 0;
    Octets key;      // the whole object key
    size_t idAt = 0; // where the object id starts in it
  };

  // Reads the IIOP profile of reference the way any client can: decodes the
  // stringified IOR. The key of a transient POA's object is 0xff, the POA's
  // name, 0xfe, 8 octets of POA instance, 0x00, then the object id.
  Address AddressOf(CORBA::Object_ptr reference)
  {
    CORBA::ORB_var orb = KroTest::ClientOrb();
    CORBA::String_var text = orb->object_to_string(reference);
    const std::string hex(text.in() + 4);  // after "IOR:"
    Octets encoded;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
      encoded.push_back(static_cast<CORBA::Octet>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    cdrEncapsulationStream stream(encoded.data(), static_cast<CORBA::ULong>(encoded.size()));
    IOP::IOR ior;
    ior.type_id = IOP::IOR::unmarshaltype_id(stream);
    ior.profiles <<= stream;
    for (CORBA::ULong i = 0; i < ior.profiles.length(); ++i)
      if (ior.profiles[i].tag == IOP::TAG_INTERNET_IOP)
      {
        IIOP::ProfileBody body;
        IIOP::unmarshalProfile(ior.profiles[i], body);
        Address address;
        address.host = body.address.host.in();
        address.port = body.address.port;
        address.key.assign(body.object_key.get_buffer(), body.object_key.get_buffer() + body.object_key.length());
        size_t end = 1;
        while (end < address.key.size() && address.key[end] != 0xfe)
          ++end;
        address.idAt = end + 1 + 8 + 1;
        if (address.key.empty() || address.key[0] != 0xff || address.idAt > address.key.size() ||
            address.key[address.idAt - 1] != 0x00)
          throw std::runtime_error("unexpected object key layout");
        return address;
      }
    throw std::runtime_error("no IIOP profile");
  }

  Octets IdOf(const Address& address) { return Octets(address.key.begin() + address.idAt, address.key.end()); }

  // The object at address with its id replaced by id, through a corbaloc
  // URL with every key octet escaped.
  CORBA::Object_ptr Forge(const Address& address, const Octets& id)
  {
    std::string url = "corbaloc:iiop:1.2@" + address.host + ":" + std::to_string(address.port) + "/";
    Octets key(address.key.begin(), address.key.begin() + address.idAt);
    key.insert(key.end(), id.begin(), id.end());
    for (CORBA::Octet octet : key)
    {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02x", octet);
      url += escaped;
    }
    CORBA::ORB_var orb = KroTest::ClientOrb();
    return orb->string_to_object(url.c_str());
  }

  // id read as a big-endian number, plus delta (wrapping).
  Octets Offset(Octets id, int delta)
  {
    for (int step = 0; step < (delta < 0 ? -delta : delta); ++step)
      for (size_t i = id.size(); i-- > 0;)
        if (delta > 0 ? ++id[i] != 0x00 : id[i]-- != 0x00)
          break;
    return id;
  }

  Octets FlipBit(Octets id, size_t bit)
  {
    id[id.size() - 1 - bit / 8] ^= static_cast<CORBA::Octet>(1u << (bit % 8));
    return id;
  }

  // A forged id and how it was made.
  struct Forgery
  {
    std::string how;
    Octets id;
  };

  // Neighbours of own by number (minus 1 to 8 reaches the objects created
  // just before, plus 1 to 3 those created just after, were ids given in
  // turn), and own with one bit flipped: each bit of the last four octets
  // and the top bit of every other octet.
  std::vector<Forgery> ForgeriesOf(const Octets& own)
  {
    std::vector<Forgery> forgeries;
    for (int delta : {-1, -2, -3, -4, -5, -6, -7, -8, 1, 2, 3})
      forgeries.push_back({"own id " + std::string(delta < 0 ? "- " : "+ ") + std::to_string(delta < 0 ? -delta : delta),
                           Offset(own, delta)});
    for (size_t bit = 0; bit < own.size() * 8; ++bit)
      if (bit < 32 || bit % 8 == 7)
        forgeries.push_back({"own id, bit " + std::to_string(bit) + " flipped", FlipBit(own, bit)});
    return forgeries;
  }

  // One request a forger tries on a forged reference.
  struct Attempt
  {
    const char* operation;
    std::function<void(CORBA::Object_ptr)> call;
  };

  std::vector<Attempt> AttemptsWith(Krovane::IAsyncHandler_ptr forgersHandler)
  {
    Krovane::IAsyncHandler_var handler = Krovane::IAsyncHandler::_duplicate(forgersHandler);
    auto calculator = [](CORBA::Object_ptr object) { return Calculator::ICalculator::_unchecked_narrow(object); };
    auto relay = [](CORBA::Object_ptr object) { return Krovane::IAsyncHandler::_unchecked_narrow(object); };
    CORBA::Any nothing;
    return {
      {"Compute", [=](CORBA::Object_ptr o) { Calculator::ICalculator_var c = calculator(o); c->Compute("pi", 1, handler.in()); }},
      {"GetOperationState", [=](CORBA::Object_ptr o) { Calculator::ICalculator_var c = calculator(o); c->GetOperationState(1); }},
      {"RegisterNewHandler", [=](CORBA::Object_ptr o) { Calculator::ICalculator_var c = calculator(o); c->RegisterNewHandler(1, handler.in()); }},
      {"CancelOperation", [=](CORBA::Object_ptr o) { Calculator::ICalculator_var c = calculator(o); c->CancelOperation(1); }},
      {"UpdateUserToken", [=](CORBA::Object_ptr o) { Calculator::ICalculator_var c = calculator(o); c->UpdateUserToken(KroTest::Token("mallory")); }},
      {"Remove", [=](CORBA::Object_ptr o) { Calculator::ICalculator_var c = calculator(o); c->Remove(); }},
      {"Status", [=](CORBA::Object_ptr o) { Krovane::IAsyncHandler_var r = relay(o); r->Status("forged"); }},
      {"Progress", [=](CORBA::Object_ptr o) { Krovane::IAsyncHandler_var r = relay(o); r->Progress(0.99); }},
      {"Results", [=](CORBA::Object_ptr o) { Krovane::IAsyncHandler_var r = relay(o); r->Results(nothing); }},
      {"Finished", [=](CORBA::Object_ptr o) { Krovane::IAsyncHandler_var r = relay(o); r->Finished(nothing); }},
      {"raise", [=](CORBA::Object_ptr o) {
         Krovane::IAsyncExceptionHolder_var h = Krovane::IAsyncExceptionHolder::_unchecked_narrow(o);
         h->raise();
       }},
    };
  }

  // "OBJECT_NOT_EXIST", or what else the call ended in.
  std::string Outcome(const Attempt& attempt, CORBA::Object_ptr target)
  {
    try
    {
      attempt.call(target);
      return "returned normally";
    }
    catch (const CORBA::OBJECT_NOT_EXIST&)
    {
      return "OBJECT_NOT_EXIST";
    }
    catch (const CORBA::SystemException& ex)
    {
      return std::string(ex._name()) + " minor " + std::to_string(ex.minor());
    }
    catch (const CORBA::Exception& ex)
    {
      return ex._name();
    }
  }

  // The longest run of octets that a and b have in common, anywhere.
  size_t LongestCommonRun(const Octets& a, const Octets& b)
  {
    size_t longest = 0;
    for (size_t i = 0; i < a.size(); ++i)
      for (size_t j = 0; j < b.size(); ++j)
      {
        size_t run = 0;
        while (i + run < a.size() && j + run < b.size() && a[i + run] == b[j + run])
          ++run;
        longest = std::max(longest, run);
      }
    return longest;
  }

  // A client's calculator with one long computation running, reported to
  // its own handler.
  struct Victim
  {
    static constexpr CORBA::Long kSteps = 250;  // 5 s at 20 ms a step: outlasts the forging

    Victim(KroTest::CalculatorServer& server, const std::string& user)
      : calculator(server.NewCalculator(user)), handler(server.NewHandler(handlerReference))
    {
      if (calculator->Compute("e", kSteps, handlerReference.in()) != 1)
        throw std::runtime_error("the victim's operation is not operation 1");
    }

    Calculator::ICalculator_var calculator;
    Krovane::IAsyncHandler_var handlerReference;
    KroTest::RecordingHandler& handler;
  };
}

class ForgedReferences : public ::testing::Test
{
protected:
  static void SetUpTestSuite() { s_server = std::make_unique<KroTest::CalculatorServer>(2); }
  static void TearDownTestSuite() { s_server.reset(); }

  static std::unique_ptr<KroTest::CalculatorServer> s_server;  // one server for every case
};

std::unique_ptr<KroTest::CalculatorServer> ForgedReferences::s_server;

TEST_F(ForgedReferences, ServerObjectIdsAreLongAndShareNoRunWithTheNext)
{
  Calculator::ICalculator_var first = s_server->NewCalculator("ids-user");
  Calculator::ICalculator_var second = s_server->NewCalculator("ids-user");
  const Octets firstId = IdOf(AddressOf(first.in()));
  const Octets secondId = IdOf(AddressOf(second.in()));
  EXPECT_GE(firstId.size(), 16u);
  EXPECT_GE(secondId.size(), 16u);
  EXPECT_LT(LongestCommonRun(firstId, secondId), 4u);
  first->Remove();
  second->Remove();
}

TEST_F(ForgedReferences, EveryRequestOnAForgedNeighbourEndsInObjectNotExistAndOthersWorkOn)
{
  // The victims' objects are created just before and just after the
  // forger's calculator.
  Victim before(*s_server, "alice");
  Calculator::ICalculator_var forger = s_server->NewCalculator("mallory");
  Krovane::IAsyncHandler_var forgersHandlerReference;
  KroTest::RecordingHandler& forgersHandler = s_server->NewHandler(forgersHandlerReference);
  Victim after(*s_server, "bob");
  ASSERT_TRUE(before.handler.WaitFor("Progress", 20s));
  ASSERT_TRUE(after.handler.WaitFor("Progress", 20s));

  const Address own = AddressOf(forger.in());
  const std::vector<Attempt> attempts = AttemptsWith(forgersHandlerReference.in());
  std::vector<std::string> failures;
  for (const Forgery& forgery : ForgeriesOf(IdOf(own)))
  {
    CORBA::Object_var target = Forge(own, forgery.id);
    for (const Attempt& attempt : attempts)
    {
      const std::string outcome = Outcome(attempt, target.in());
      if (outcome != "OBJECT_NOT_EXIST")
        failures.push_back(forgery.how + ": " + attempt.operation + " -> " + outcome);
    }
  }
  std::string listed;
  for (size_t i = 0; i < failures.size() && i < 12; ++i)
    listed += "\n  " + failures[i];
  EXPECT_TRUE(failures.empty()) << failures.size() << " requests got through:" << listed;

  // The forging overlapped the victims' work, and their work went on.
  EXPECT_EQ(Krovane::Running, before.calculator->GetOperationState(1));
  EXPECT_EQ(Krovane::Running, after.calculator->GetOperationState(1));
  for (Victim* victim : {&before, &after})
  {
    ASSERT_TRUE(victim->handler.WaitFor("Finished", 30s));
    const std::vector<std::string> events = victim->handler.Events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(Victim::kSteps, victim->handler.Count("Progress"));
    EXPECT_EQ(Victim::kSteps, victim->handler.Count("Status"));
    EXPECT_EQ(1, victim->handler.Count("Results"));
    EXPECT_EQ(1, victim->handler.Count("Finished"));
    EXPECT_EQ(0, victim->handler.Count("Error"));
    EXPECT_EQ("Finished", events.back());
    EXPECT_EQ("Results", events[events.size() - 2]);
  }
  EXPECT_TRUE(forgersHandler.Events().empty());
  EXPECT_EQ(std::string::npos, s_server->Log().find("pi in 1 steps")) << s_server->Log();
  before.calculator->Remove();
  after.calculator->Remove();
  forger->Remove();
  // Their users are still theirs.
  EXPECT_TRUE(s_server->WaitForLog("(%P|%t) account of \"alice\" deleted"));
  EXPECT_TRUE(s_server->WaitForLog("(%P|%t) account of \"bob\" deleted"));
}
