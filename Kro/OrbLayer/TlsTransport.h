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
// on 127.0.0.1 (tests/security/TlsProcessTest.cpp):
// - Verify modes: SSL_VERIFY_PEER alone asks the caller for a certificate
//   and accepts one without; a certificate that is sent must verify against
//   caFile. SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT (omniORB's
//   default) refuses a caller without a certificate: the handshake fails
//   and the caller gets CORBA::TRANSIENT. SSL_VERIFY_NONE would accept any
//   server as a client: never used here. The same OpenSSL context serves
//   both directions, so a client checks the server's certificate too.
// - -ORBserverTransportRule "* ssl" makes the server close plain TCP
//   connections as they are accepted (caller: CORBA::TRANSIENT or
//   COMM_FAILURE; no request reaches the servant), even on a giop:tcp
//   endpoint; -ORBclientTransportRule "* ssl" makes a client use only the
//   SSL addresses of a reference (a reference without one: TRANSIENT).
// - omniORB 4.2 has no configuration parameters for the SSL files: they are
//   set in code, which is why programs built without omnisslTP (omniNames,
//   nameclt) cannot speak TLS at all.
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
