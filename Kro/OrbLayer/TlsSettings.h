// TlsSettings: what a process needs to speak TLS on omniORB's SSL transport
// (TlsTransport applies them).
//
// The same settings serve both directions of a process: it presents its
// certificate to the servers it calls and to the clients that call it
// (callback handlers of a client included), and checks the other side's
// certificate against caFile.
//
// A plain value; copy it freely.
#ifndef KRO_ORBLAYER_TLSSETTINGS_H
#define KRO_ORBLAYER_TLSSETTINGS_H

#include <string>

namespace KroOrb
{
  struct TlsSettings
  {
    std::string caFile;           // PEM: the certificate authorities trusted; empty: TLS off
    std::string certificateFile;  // PEM: this process's certificate (chain); empty: none
    std::string keyFile;          // PEM: its private key (may be certificateFile itself)
    std::string keyPassword;      // the key's pass phrase; empty: the key is not encrypted
    bool requireClientCertificate = false;  // a server refuses callers without a valid certificate
    bool plainTcpToo = true;      // false: plain TCP is neither accepted nor used
    // OpenSSL's cipher list for TLS 1.2 (TLS 1.3 suites are all forward
    // secret and AEAD): by default only those too, no static RSA, no CBC.
    std::string cipherList = "ECDHE+AESGCM:ECDHE+CHACHA20";

    // Whether TLS is switched on at all.
    bool Enabled() const { return !caFile.empty(); }
  };

  // The minor code of the CORBA::INITIALIZE thrown when the TLS settings
  // are refused (a key, a certificate or a cipher list), so that a caller
  // does not take it for a port that is taken.
  const unsigned kTlsSettingsRefused = 0x4B520001;
}

#endif
