// StatusPage: the live operations page served at "/": HTML, CSS and script
// in one document, fetching nothing but /api/operations of its own origin
// (once a second), changing nothing on the server.
//
// It names the server, draws operations ended per second and the mean
// queue wait over the last five minutes from the server's running totals
// (sampled while the page is open), filters the rows by user and state, and
// shows one operation's details; the view is kept in the address's fragment
// (#user=NAME&state=STATE&op=OBJECT:ID), so that it can be linked to.
//
// Each operation is a table row with data-key="OBJECT:ID", data-state,
// data-place and data-progress (0..1) beside what a person reads, so that
// tools can check it; likewise the charts' data-samples and the details'
// data-key and data-state.
#ifndef KROSTATUS_STATUSPAGE_H
#define KROSTATUS_STATUSPAGE_H

namespace KroStatus
{
  const char* StatusPageHtml();
}

#endif
