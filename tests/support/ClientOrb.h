// ClientOrb: the test process's own ORB, for tests in which the test
// itself is the client of a server process.
//
// Created on first use with 127.0.0.1 as its only endpoint and a bound on
// every call (so a hung server fails a test instead of stalling it);
// destroyed by a gtest environment when the test program ends. Call from
// the tests' thread.
#ifndef KRO_TESTS_SUPPORT_CLIENTORB_H
#define KRO_TESTS_SUPPORT_CLIENTORB_H

#include <omniORB4/CORBA.h>

#include <string>

namespace KroTest
{
  // A new reference to the test process's ORB; the caller releases it.
  CORBA::ORB_ptr ClientOrb();

  // The object behind an IOR string, through ClientOrb().
  CORBA::Object_ptr ObjectFromIor(const std::string& ior);
}

#endif
