// The client's side of pipelined callbacks: numbered callbacks arriving in
// any order, again, or never reach the application in the server's order,
// each once, without waiting for a number the server gave up.
#include "KroClient/CallbackSequencer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
  struct Arrival
  {
    CORBA::ULong number;   // 0: the library's own event, unnumbered
    CORBA::ULong settled;  // as the server sent it
  };

  struct Case
  {
    const char* name;
    std::vector<Arrival> arrivals;
    std::vector<CORBA::ULong> delivered;  // numbers, in the application's order
  };
}

TEST(CallbackSequencer, PutsNumberedCallbacksInTheServersOrderEachOnceAndSkipsOnlyWhatWasGivenUp)
{
  const Case cases[] = {
    {"in order", {{1, 1}, {2, 1}, {3, 2}}, {1, 2, 3}},
    {"reversed in flight", {{3, 1}, {2, 1}, {1, 1}}, {1, 2, 3}},
    {"a repeat (a retried call) is dropped", {{1, 1}, {2, 1}, {1, 1}, {2, 2}, {3, 3}}, {1, 2, 3}},
    {"a number given up is skipped once the server says so", {{1, 1}, {3, 2}, {4, 4}}, {1, 3, 4}},
    {"one given up that comes late is dropped", {{1, 1}, {3, 3}, {2, 1}, {4, 4}}, {1, 3, 4}},
    {"a handler attached midway starts where the server is", {{58, 57}, {57, 57}, {59, 58}}, {57, 58, 59}},
    {"the library's own events are not held", {{2, 1}, {0, 0}, {1, 1}}, {0, 1, 2}},
    {"a gap not settled holds what follows", {{1, 1}, {3, 2}, {4, 2}}, {1}},
  };
  for (const Case& c : cases)
  {
    SCOPED_TRACE(c.name);
    std::vector<CORBA::ULong> delivered;
    KroClient::CallbackSequencer sequencer(
      [&delivered](const KroClient::CallbackEvent& event) { delivered.push_back(event.number.number); }, false);
    for (const Arrival& arrival : c.arrivals)
    {
      KroClient::CallbackEvent event{KroClient::CallbackEvent::Kind::Progress};
      event.number.number = arrival.number;
      event.number.settled = arrival.settled;
      sequencer.Post(std::move(event));
    }
    EXPECT_EQ(c.delivered, delivered);
  }
}
