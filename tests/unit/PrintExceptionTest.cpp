// Printing of handled CORBA exceptions: the place, then what the exception is.
#include "OrbLayer/PrintException.h"
#include "Krovane.hh"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>

namespace
{
  // What PrintException writes for ex and info.
  std::string Printed(const CORBA::Exception& ex, const char* info)
  {
    FILE* stream = std::tmpfile();
    if (!stream)
      return "tmpfile failed";
    KroOrb::PrintException(ex, info, stream);
    std::string text;
    std::rewind(stream);
    char buffer[512];
    size_t read;
    while ((read = std::fread(buffer, 1, sizeof buffer, stream)) > 0)
      text.append(buffer, read);
    std::fclose(stream);
    return text;
  }
}

TEST(PrintException, SystemExceptionShowsNameRepositoryIdMinorAndCompletion)
{
  EXPECT_EQ("AsynchronousOperation::Dispatch after narrow: "
            "BAD_PARAM (IDL:omg.org/CORBA/BAD_PARAM:1.0), minor 0x2a, completed NO\n",
            Printed(CORBA::BAD_PARAM(42, CORBA::COMPLETED_NO), "AsynchronousOperation::Dispatch after narrow"));
  EXPECT_EQ("Relay: TIMEOUT (IDL:omg.org/CORBA/TIMEOUT:1.0), minor 0x0, completed MAYBE\n",
            Printed(CORBA::TIMEOUT(0, CORBA::COMPLETED_MAYBE), "Relay"));
  // A code omniORB has a name for shows the name beside the number.
  EXPECT_EQ("x: OBJECT_NOT_EXIST (IDL:omg.org/CORBA/OBJECT_NOT_EXIST:1.0), "
            "minor OBJECT_NOT_EXIST_NoMatch (0x4f4d0001), completed YES\n",
            Printed(CORBA::OBJECT_NOT_EXIST(0x4f4d0001, CORBA::COMPLETED_YES), "x"));
  EXPECT_EQ("y: TRANSIENT (IDL:omg.org/CORBA/TRANSIENT:1.0), minor TRANSIENT_ConnectFailed (0x41540002), completed NO\n",
            Printed(CORBA::TRANSIENT(0x41540002, CORBA::COMPLETED_NO), "y"));
}

TEST(PrintException, UserExceptionHasNoMinorAndALineEndedPlaceStartsANewLine)
{
  EXPECT_EQ("Problem in ServerObjectTable::NumObjectsAndActiveOperations()\n"
            "OperationsStillActive (IDL:Krovane/OperationsStillActive:1.0)\n",
            Printed(Krovane::OperationsStillActive(),
                    "Problem in ServerObjectTable::NumObjectsAndActiveOperations()\n"));
  EXPECT_EQ(": OperationCancelled (IDL:Krovane/OperationCancelled:1.0)\n",
            Printed(Krovane::OperationCancelled(), nullptr));
}

// Once the log carries times, printed exceptions do too (last: it stays on).
TEST(PrintException, CarriesTheTimeOfDayOnceTimesAreStamped)
{
  KroOrb::StampPrintedTimes();
  const std::string printed =
    Printed(CORBA::BAD_PARAM(42, CORBA::COMPLETED_NO), "AsynchronousOperation::Dispatch after narrow");
  EXPECT_TRUE(std::regex_match(printed, std::regex("[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\\.[0-9]{3} "
                                                   "AsynchronousOperation::Dispatch after narrow: BAD_PARAM .*\n")))
    << printed;
}
