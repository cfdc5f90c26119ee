// TlsTransport: switches omniORB's SSL transport (omnisslTP) on for the
// process, from TlsSettings.
//
// Before CORBA::ORB_init, a process calls Install once and adds OrbOptions
// to the ORB's arguments. Its endpoints remain its own choice, as ORB
// options: -ORBendPoint giop:ssl:HOST:PORT listens with TLS, and
// giop:tcp:HOST:PORT in plain TCP (refused when plainTcpToo is false). A
// process that takes callbacks (a client with handlers) needs an SSL
// endpoint of its own when its servers use TLS only.
//
// What omniORB 4.2.5 (Debian) does here, measured with the example servers
// and clients on 127.0.0.1 (tests/security/TlsProcessTest.cpp covers the
// first three):
// - SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT (omniORB's default,
//   used with requireClientCertificate) refuses a caller without a
//   certificate, and one whose certificate another CA signed: the caller's
//   first request fails with COMM_FAILURE (minor 0x41540007, completed
//   MAYBE: the TLS 1.3 handshake ends on the server's side after the client
//   sent) and nothing reaches the servant.
// - SSL_VERIFY_PEER alone still asks for a certificate: a caller without
//   one is served, one with a certificate that does not verify is refused
//   as above. A client that does not trust the server's CA gets TRANSIENT
//   (minor 0x41540002, ConnectFailed) at once.
// - -ORBserverTransportRule "* ssl": a plain TCP connection, even to a
//   giop:tcp endpoint of the server, is closed as it is accepted (caller:
//   COMM_FAILURE, completed MAYBE; nothing reaches the servant).
// - -ORBclientTransportRule "* ssl": only the SSL addresses of a reference
//   are used; a reference with none gives TRANSIENT. Rules are tried in
//   order and the first whose address matches decides; omniORB's default
//   "* unix,ssl,tcp" takes the SSL address when a reference has both.
// - A reference of a server with only SSL endpoints carries its port in a
//   TAG_SSL_SEC_TRANS component and none for plain TCP: a plain client gets
//   TRANSIENT.
// - A process that merely links omnisslTP without configuring it logs
//   "SSL CA certificate location is not set. SSL transport disabled." at
//   every ORB start: hence the module loaded only by Install.
// - omniORB 4.2 has no configuration parameters for the SSL files (they are
//   set in code), and Debian's omniNames and nameclt are not linked with
//   omnisslTP: they speak plain TCP only.
//
// Threads: main's thread, before ORB_init.
#ifndef KRO_ORBLAYER_TLSTRANSPORT_H
#define KRO_ORBLAYER_TLSTRANSPORT_H

#include "OrbLayer/TlsSettings.h"

#include <string>
#include <vector>

namespace KroOrb
{
  class TlsTransport
  {
  public:
    // Hands omniORB the process's SSL context made from settings. Nothing
    // when settings are not Enabled(). A second call is refused with
    // CORBA::BAD_INV_ORDER. Files are read when the ORB starts: a missing
    // or wrong one fails ORB_init with CORBA::INITIALIZE (and a log line).
    static void Install(const TlsSettings& settings);

    // The ORB options that go with settings: the transport rules (empty
    // when TLS is off, or when plain TCP is offered as well).
    static std::vector<std::string> OrbOptions(const TlsSettings& settings);
  };
}

#endif
