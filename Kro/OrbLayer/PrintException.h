// Printing of CORBA exceptions that the library handles.
//
// The family prints a handled exception as a short text naming the place,
// followed by what the exception is. Any thread may call these functions.
#ifndef KRO_ORBLAYER_PRINTEXCEPTION_H
#define KRO_ORBLAYER_PRINTEXCEPTION_H

#include <omniORB4/CORBA.h>

#include <cstdio>
#include <string>

namespace KroOrb
{
  // "<name> (<repository id>)", plus ", minor <code>, completed <YES|NO|MAYBE>"
  // for a system exception, where <code> is omniORB's name of the minor
  // code and the number, e.g. "TRANSIENT_ConnectFailed (0x41540002)", or
  // the number alone ("0x0") when omniORB has no name for it.
  std::string DescribeException(const CORBA::Exception& ex);

  // omniORB's name of ex's minor code (e.g. "TRANSIENT_ConnectFailed"), or
  // null when it has none.
  const char* MinorCodeName(const CORBA::SystemException& ex);

  // From now on printed exceptions carry the time of day in front, as the
  // log's lines do ("15:20:01.123 AsynchronousOperation::Dispatch ...").
  void StampPrintedTimes();
  // Writes info, then ": ", then DescribeException(ex) and a line end, to
  // stream (standard output unless told otherwise), and flushes it. Where
  // info already ends in a line end, the description follows on a new line.
  void PrintException(const CORBA::Exception& ex, const char* info,
                      FILE* stream = stdout);
  // The same line for an exception described earlier (DescribeException),
  // for one that another thread may have taken meanwhile.
  void PrintDescribedException(const std::string& description, const char* info, FILE* stream = stdout);
}

#endif
