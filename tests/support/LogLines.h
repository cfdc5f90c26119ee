// Reading a server process's log in the tests, and user tokens from text.
//
// A server's standard error holds ACE log lines "(<pid>|<tid>) text" and
// lines without that prefix; these helpers match whole lines exactly.
// Free functions on text the caller owns; any thread.
#ifndef KRO_TESTS_SUPPORT_LOGLINES_H
#define KRO_TESTS_SUPPORT_LOGLINES_H

#include "Krovane.hh"

#include <sys/types.h>

#include <string>
#include <vector>

namespace KroTest
{
  // The lines of text, without their line ends.
  std::vector<std::string> Lines(const std::string& text);

  // The lines of log written by process pid with the "(%P|%t)" prefix, each
  // without the prefix: "(12|34) Objects(0)" gives " Objects(0)".
  std::vector<std::string> PrefixedLines(const std::string& log, pid_t pid);

  // The same, only the lines of the thread that wrote the first line
  // reading body (none if there is no such line): the order in which one
  // thread did things, without the lines of the others.
  std::vector<std::string> LinesOfThreadThatWrote(const std::string& log, pid_t pid, const std::string& body);

  // How many prefixed lines of pid read exactly body (the text after the
  // prefix, its leading blanks included).
  int CountPrefixed(const std::string& log, pid_t pid, const std::string& body);

  // How many lines of text are exactly line.
  int CountLines(const std::string& text, const std::string& line);

  // How many lines of log equal line once their prefix is written
  // "(%P|%t)" (see NormalisePrefix).
  int CountNormalised(const std::string& log, const std::string& line);

  // A token holding the octets of text.
  Krovane::UserToken Token(const std::string& text);
}

#endif
