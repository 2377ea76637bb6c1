// Portable layer. Authenticode verification of the bootstrapper's own file and the
// signer details handed to the wizard. The trust provider only fetches facts; the
// descriptions, the log lines and every decision about them are made here.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/log.h"
#include "platform/platform.h"
#include "platform/trust.h"

namespace carryall {

// Full path of the running executable; empty when the system cannot deliver it. The
// path is never cut short: a shortened path would name another file.
Text GetModulePath(IEnvironment& environment);

// The one-line description of a verification outcome, ending in its own line feed.
Text DescribeVerification(const Text& path, const TrustVerdict& verdict);

// Verifies the file's embedded signature, sets description to the text for the user and
// logs it. Returns the provider's status: 0 when the signature verifies. An empty path
// names no file: the provider is not asked and the answer is that of a missing file.
int32_t VerifyFileSignature(ITrust& trust, Log& log, const Text& path, Text& description);

// What the signature says about its signer. Every member may be absent.
struct SignerDetails {
  std::optional<Text> ProgramName;
  std::optional<Text> PublisherLink;
  std::optional<Text> MoreInfoLink;
  uint32_t SerialNumberSize = 0;
  std::optional<std::vector<uint8_t>> SerialNumber;
  std::optional<Text> IssuerName;
  std::optional<Text> SubjectName;
};

// Reads the signer of the file's embedded signature into details and logs each step.
// True when the signer information could be read (its members may still be absent).
bool GetAuthenticodeInformation(ITrust& trust, Log& log, const Text& path, SignerDetails& details);

// Logs the details of the file's signer and answers the signed program name, or
// default_name when the signature carries none or cannot be read. Never fails the run.
Text ReadSignerProgramName(ITrust& trust, Log& log, const Text& path, const Text& default_name);

// The program name and the two links of the signer's opus-info attribute.
void GetProgAndPublisherInfo(Log& log, const EmbeddedSignature& signature, SignerDetails& details);

// The serial number, issuer and subject of the signing certificate.
void ReadSignerCertificate(const EmbeddedSignature& signature, SignerDetails& details);

}  // namespace carryall
