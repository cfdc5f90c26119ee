// ClientHandler: the example client's callback object (an IAsyncHandler
// servant) for one operation: it hands every callback to the operation's
// OperationTrack. The Sync forms are treated like the plain ones.
//
// Ownership: reference counted; the client activates it in its root POA and
// deactivates it before the track goes. Threads: the client ORB's threads
// call it, possibly several at once.
#ifndef KRO_EXAMPLES_CLIENTHANDLER_H
#define KRO_EXAMPLES_CLIENTHANDLER_H

#include "OperationTrack.h"

#include "AsyncHandlerServant.h"

#include <string>

namespace KroExample
{
  class ClientHandler : public KroExample::AsyncHandlerServant
  {
  public:
    // track: where the callbacks go (not owned); name: how this handler is
    // named on the track's lines ("" for none).
    ClientHandler(OperationTrack& track, const std::string& name);

    // IAsyncHandler (the Sync forms come here through AsyncHandlerServant)
    void Queued(CORBA::Long position) override;
    void Status(const char* text) override;
    void Progress(CORBA::Double progress) override;
    void Results(const CORBA::Any& data) override;
    void Finished(const CORBA::Any& data) override;
    void Error(Krovane::IAsyncExceptionHolder_ptr holder) override;

  private:
    OperationTrack& m_track;   // the operation's track
    const std::string m_name;  // this handler's name on the lines
  };
}

#endif
