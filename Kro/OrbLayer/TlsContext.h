// TlsContext: omniORB's SSL context (sslContext) made from TlsSettings.
//
// omniORB's own context reads the certificate and the key from one file
// and always needs both; this one takes them from separate files (or the
// same one) and lets a process go without a certificate, as a client that a
// server does not ask one of. Its verify mode follows
// TlsSettings::requireClientCertificate (see TlsTransport.h for what omniORB
// then does), for accepted and made connections alike.
//
// The context's class differs between omniORB versions (OrbVersion.h):
// 4.2's ::sslContext asks the verify mode of set_verify_mode(); 4.3's
// omni::sslContext applies it in set_verify() and may give accepted
// connections a mode of their own. This header and its source are the only
// places that know it; they are not installed.
//
// It lives in a module of its own (KroOrbTls17), the only one linked with
// omnisslTP: a process that links omnisslTP without configuring it gets a
// warning from omniORB at every ORB start, so only processes that switch TLS
// on load it (TlsTransport::Install, through KroOrbInstallTlsContext).
//
// Ownership: KroOrbInstallTlsContext creates the instance and hands it to
// omniORB (sslContext::singleton) before ORB_init; omniORB builds the
// OpenSSL context from it when the ORB starts (internal_initialise calls the
// overrides below). omniORB 4.2 keeps it as long as the process; 4.3 deletes
// it in ORB::destroy(), and a process that starts its ORB again installs a
// new one.
#ifndef KRO_ORBLAYER_TLSCONTEXT_H
#define KRO_ORBLAYER_TLSCONTEXT_H

#include "OrbLayer/OrbVersion.h"
#include "OrbLayer/TlsSettings.h"

#include <omniORB4/CORBA.h>
#include <omniORB4/sslContext.h>

namespace KroOrb
{
#if KRO_OMNIORB_4_2
  typedef ::sslContext OrbSslContext;
#elif KRO_OMNIORB_4_3
  typedef omni::sslContext OrbSslContext;
#else
#error "TlsContext was written for omniORB 4.2 and 4.3 (see OrbVersion.h)"
#endif

  // The settings come first among the bases, so that the file names live
  // before the context's constructor reads them (4.2 keeps pointers to them).
  class TlsContext : private TlsSettings, public OrbSslContext
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
#if KRO_OMNIORB_4_2
    // VerifyMode(), asked by omniORB.
    int set_verify_mode() override;
#else
    // VerifyMode() on the context, and on every accepted connection.
    void set_verify() override;
#endif

  private:
    // SSL_VERIFY_PEER, with SSL_VERIFY_FAIL_IF_NO_PEER_CERT when client
    // certificates are required.
    int VerifyMode() const;
  };
}

// The module's entry: installs a TlsContext made from settings as
// omniORB's SSL context; false when the process has one already.
extern "C" bool KroOrbInstallTlsContext(const KroOrb::TlsSettings* settings);

#endif
