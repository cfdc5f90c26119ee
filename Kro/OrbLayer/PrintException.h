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
  // "<name> (<repository id>)", plus ", minor 0x<code>, completed <YES|NO|MAYBE>"
  // for a system exception.
  std::string DescribeException(const CORBA::Exception& ex);

  // Writes info, then ": ", then DescribeException(ex) and a line end, to
  // stream (standard output unless told otherwise), and flushes it. Where
  // info already ends in a line end, the description follows on a new line.
  void PrintException(const CORBA::Exception& ex, const char* info,
                      FILE* stream = stdout);
}

#endif
