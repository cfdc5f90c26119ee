// TlsContext: omniORB's SSL context (sslContext) made from TlsSettings.
//
// omniORB 4.2's own context reads the certificate and the key from one file
// and always needs both; this one takes them from separate files (or the
// same one) and lets a process go without a certificate, as a client that a
// server does not ask one of. Its verify mode follows
// TlsSettings::requireClientCertificate (see TlsTransport.h for what omniORB
// then does).
//
// It lives in a module of its own (KroOrbTls17), the only one linked with
// omnisslTP: a process that links omnisslTP without configuring it gets a
// warning from omniORB at every ORB start, so only processes that switch TLS
// on load it (TlsTransport::Install, through KroOrbInstallTlsContext).
//
// Ownership: KroOrbInstallTlsContext creates the one instance of the process
// and hands it to omniORB (sslContext::singleton) before ORB_init; omniORB
// builds the OpenSSL context from it when the ORB starts (internal_initialise
// calls the overrides below). It lives as long as the process.
#ifndef KRO_ORBLAYER_TLSCONTEXT_H
#define KRO_ORBLAYER_TLSCONTEXT_H

#include "OrbLayer/TlsSettings.h"

#include <omniORB4/CORBA.h>
#include <omniORB4/sslContext.h>

namespace KroOrb
{
  // The settings come first among the bases, so that the file names live
  // before sslContext's constructor keeps pointers to them.
  class TlsContext : private TlsSettings, public sslContext
  {
  public:
    explicit TlsContext(const TlsSettings& settings);
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

  protected:
    // The certificate chain from certificateFile; nothing without one.
    void set_certificate() override;
    // The key from keyFile, checked against the certificate; nothing without one.
    void set_privatekey() override;
    // SSL_VERIFY_PEER, with SSL_VERIFY_FAIL_IF_NO_PEER_CERT when client
    // certificates are required.
    int set_verify_mode() override;
  };
}

// The module's entry: installs a TlsContext made from settings as
// omniORB's SSL context; false when the process has one already.
extern "C" bool KroOrbInstallTlsContext(const KroOrb::TlsSettings* settings);

#endif
