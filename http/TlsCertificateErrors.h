// The certificate problems an EIdTlsError names, numbered alike by every
// TLS back end (OpenSSL's X509_V_ERR_* values, which the OpenSSL session
// passes on as they are) and each with the reason text OpenSSL gives it.
// The Windows session translates the system's verdicts into these, so the
// download operations turn both into the same message for the user.
#pragma once

inline constexpr int kTlsCertUnspecified = 1;
inline constexpr int kTlsCertSignatureFailure = 7;
inline constexpr int kTlsCertNotYetValid = 9;
inline constexpr int kTlsCertExpired = 10;
inline constexpr int kTlsCertSelfSigned = 18;
inline constexpr int kTlsCertSelfSignedInChain = 19;
inline constexpr int kTlsCertUnknownIssuer = 20;
inline constexpr int kTlsCertRevoked = 23;
inline constexpr int kTlsCertInvalidPurpose = 26;
inline constexpr int kTlsCertHostnameMismatch = 62;
inline constexpr int kTlsCertAddressMismatch = 64;

// OpenSSL's reason text for one of the codes above.
inline const char* TlsCertificateReason(int code) {
    switch (code) {
    case kTlsCertSignatureFailure: return "certificate signature failure";
    case kTlsCertNotYetValid: return "certificate is not yet valid";
    case kTlsCertExpired: return "certificate has expired";
    case kTlsCertSelfSigned: return "self-signed certificate";
    case kTlsCertSelfSignedInChain: return "self-signed certificate in certificate chain";
    case kTlsCertUnknownIssuer: return "unable to get local issuer certificate";
    case kTlsCertRevoked: return "certificate revoked";
    case kTlsCertInvalidPurpose: return "unsuitable certificate purpose";
    case kTlsCertHostnameMismatch: return "hostname mismatch";
    case kTlsCertAddressMismatch: return "IP address mismatch";
    default: return "unspecified certificate verification error";
    }
}
