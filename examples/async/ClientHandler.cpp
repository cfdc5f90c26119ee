#include "ClientHandler.h"

namespace KroExample
{
  ClientHandler::ClientHandler(OperationTrack& track, const std::string& name) : m_track(track), m_name(name) {}

  void ClientHandler::Queued(CORBA::Long position) { m_track.OnQueued(position, m_name); }
  void ClientHandler::Status(const char* text) { m_track.OnStatus(text, m_name); }
  void ClientHandler::Progress(CORBA::Double progress) { m_track.OnProgress(progress); }
  void ClientHandler::Results(const CORBA::Any& data) { m_track.OnResults(data, m_name); }
  void ClientHandler::Finished(const CORBA::Any&) { m_track.OnFinished(m_name); }
  void ClientHandler::Error(Krovane::IAsyncExceptionHolder_ptr holder) { m_track.OnError(holder, m_name); }
}
