// Portable layer. The trust provider: whether a file's embedded Authenticode signature
// verifies, and what that signature says about its signer. Each operation only fetches
// raw facts as plain data; the descriptions, the log lines and every decision about them
// live in signature/, where the host tests reach them.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/platform.h"

namespace carryall {

// Statuses and last errors of the trust provider that the core tells apart.
constexpr int32_t kTrustNoSignature = static_cast<int32_t>(0x800B0100);         // TRUST_E_NOSIGNATURE
constexpr int32_t kTrustSubjectFormUnknown = static_cast<int32_t>(0x800B0003);  // TRUST_E_SUBJECT_FORM_UNKNOWN
constexpr int32_t kTrustProviderUnknown = static_cast<int32_t>(0x800B0001);     // TRUST_E_PROVIDER_UNKNOWN
constexpr int32_t kTrustExplicitDistrust = static_cast<int32_t>(0x800B0111);    // TRUST_E_EXPLICIT_DISTRUST
constexpr int32_t kTrustSubjectNotTrusted = static_cast<int32_t>(0x800B0004);   // TRUST_E_SUBJECT_NOT_TRUSTED
constexpr int32_t kCryptSecuritySettings = static_cast<int32_t>(0x80092026);    // CRYPT_E_SECURITY_SETTINGS

// The provider's answer for one file.
struct TrustVerdict {
  int32_t status = 0;       // 0 when the signature verifies
  uint32_t last_error = 0;  // the thread's last error right after the call
};

// Link choices of the signer's links (SPC_LINK).
constexpr uint32_t kLinkUrl = 1;
constexpr uint32_t kLinkMoniker = 2;
constexpr uint32_t kLinkFile = 3;

// One link of the opus-info attribute.
struct SignerLink {
  uint32_t choice = 0;
  Text text;  // the URL or the file name for choices 1 and 3; empty for any other
};

// The opus-info attribute (SPC_SP_OPUS_INFO), as decoded.
struct OpusInfo {
  std::optional<Text> program_name;          // nullopt: no program name in the attribute
  std::optional<SignerLink> publisher_info;  // nullopt: no publisher link
  std::optional<SignerLink> more_info;       // nullopt: no more-information link
};

// The signing certificate, as found in the signature's own certificate store.
struct SignerCertificate {
  // The serial number's bytes in the order the certificate record holds them (least
  // significant first); nullopt when no block could be allocated for them.
  std::optional<std::vector<uint8_t>> serial_number;
  // Simple display names; nullopt when the name has no length or no room was left.
  std::optional<Text> issuer;
  std::optional<Text> subject;
};

// What the signature embedded in a file says, and where reading it stopped.
struct EmbeddedSignature {
  enum class Step {
    kQuery,           // the file holds no embedded PKCS #7 signature (CryptQueryObject)
    kSignerInfoSize,  // the signer information's size could not be read
    kAllocate,        // no room for the signer information
    kSignerInfo,      // the signer information could not be read
    kComplete,        // the signer information was read; the fields below apply
  };
  Step reached = Step::kQuery;

  // The first opus-info attribute (object identifier 1.3.6.1.4.1.311.2.1.12) of the
  // signer's authenticated attributes, decoded from its first value.
  enum class Opus {
    kAbsent,      // no such attribute
    kDecodeSize,  // the size query of the decode failed
    kAllocate,    // no room for the decoded attribute
    kDecode,      // the decode failed
    kDecoded,     // opus_info holds it
  };
  Opus opus = Opus::kAbsent;
  OpusInfo opus_info;

  // nullopt when the signer's certificate is not in the signature's store.
  std::optional<SignerCertificate> certificate;
};

class ITrust {
 public:
  virtual ~ITrust() = default;

  // WinVerifyTrust with the generic Authenticode action (no UI, no revocation checks,
  // state action ignore, the safer flag) on the file named by path.
  virtual TrustVerdict VerifyFile(const Text& path) = 0;

  // Reads the signer of the file's embedded signature: CryptQueryObject (embedded
  // PKCS #7, binary), signer 0's information, its first opus-info attribute and the
  // signing certificate with its serial number, issuer and subject. Every handle and
  // allocation is released before it returns, on every path.
  virtual EmbeddedSignature ReadEmbeddedSignature(const Text& path) = 0;
};

}  // namespace carryall
