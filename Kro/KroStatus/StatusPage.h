// StatusPage: the live operations page served at "/": HTML, CSS and script
// in one document, fetching nothing but /api/operations of its own origin
// (once a second), changing nothing on the server.
//
// Each operation is a table row with data-key="OBJECT:ID", data-state,
// data-place and data-progress (0..1) beside what a person reads, so that
// tools can check it.
#ifndef KROSTATUS_STATUSPAGE_H
#define KROSTATUS_STATUSPAGE_H

namespace KroStatus
{
  const char* StatusPageHtml();
}

#endif
