// Portable layer. Signature verification and signer details.
#include "signature/signature.h"

#include "base/path.h"
#include "base/string_ids.h"

namespace carryall {

// A path the system cannot give reads as empty, which no later step takes for a file.
Text GetModulePath(IEnvironment& environment) { return environment.GetModuleFileName().value_or(Text()); }

Text DescribeVerification(const Text& path, const TrustVerdict& verdict) {
  switch (verdict.status) {
    case 0:
      return Format(u"The file \"%s\" is signed and the signature was verified.\n", path);
    case kTrustNoSignature: {
      const auto error = static_cast<int32_t>(verdict.last_error);
      if (error == kTrustNoSignature || error == kTrustSubjectFormUnknown || error == kTrustProviderUnknown) {
        return Format(u"The file \"%s\" is not signed. Error 0x%x\n", path, verdict.last_error);
      }
      return Format(u"An unknown error occurred trying to verify the signature of the \"%s\" file. Error 0x%x\n", path,
                    verdict.last_error);
    }
    case kTrustExplicitDistrust:
      return u"The signature is present, but specifically disallowed.\n";
    case kTrustSubjectNotTrusted:
      return u"The signature is present, but not trusted.\n";
    case kCryptSecuritySettings:
      return u"The subject or the publisher wasn't explicitly trusted by the admin and admin policy has disabled "
             u"user trust. No signature, publisher or timestamp errors.\n";
    default:
      return Format(u"Error is: 0x%x.\n", static_cast<uint32_t>(verdict.status));
  }
}

int32_t VerifyFileSignature(ITrust& trust, Log& log, const Text& path, Text& description) {
  // The provider would resolve an empty name against whatever it takes as the current
  // file; nothing but this executable may ever be verified in its place.
  TrustVerdict verdict = path.empty() ? TrustVerdict{kTrustNoSignature, kErrorFileNotFound} : trust.VerifyFile(path);
  description = DescribeVerification(path, verdict);
  // The description keeps its own line feed inside the quotes; only the path in it
  // comes from outside.
  log.Write(u"Digital verification: '" + DescribeVerification(EscapeForLog(path), verdict) + u"'\n");
  return verdict.status;
}

namespace {

std::optional<Text> LinkText(const SignerLink& link) {
  if (link.choice == kLinkUrl || link.choice == kLinkFile) return link.text;
  return std::nullopt;
}

}  // namespace

void GetProgAndPublisherInfo(Log& log, const EmbeddedSignature& signature, SignerDetails& details) {
  using Opus = EmbeddedSignature::Opus;
  switch (signature.opus) {
    case Opus::kAbsent:
      return;
    case Opus::kDecodeSize:
      log.Write(u"GetProgAndPublisherInfo failed CryptDecodeObject\n");
      return;
    case Opus::kAllocate:
      log.Write(u"GetProgAndPublisherInfo failed Allocate1\n");
      return;
    case Opus::kDecode:
      log.Write(u"GetProgAndPublisherInfo failed CryptoDecodeObject\n");
      return;
    case Opus::kDecoded:
      break;
  }
  const OpusInfo& opus = signature.opus_info;
  details.ProgramName = opus.program_name;
  if (!opus.program_name) log.Write(u"GetProgAndPublisherInfo failed pwszProgramName\n");

  if (opus.publisher_info) {
    details.PublisherLink = LinkText(*opus.publisher_info);
    log.Printf(u"GetProgAndPublisherInfo switch 1 %d\n", opus.publisher_info->choice);
  } else {
    log.Write(u"GetProgAndPublisherInfo pPublisheInfo = null\n");
    details.PublisherLink.reset();
  }

  if (opus.more_info) {
    details.MoreInfoLink = LinkText(*opus.more_info);
    log.Printf(u"GetProgAndPublisherInfo switch MoreInfo %d\n", opus.more_info->choice);
  } else {
    log.Write(u"GetProgAndPublisherInfo pMoreInfo = null\n");
    details.MoreInfoLink.reset();
  }
}

void ReadSignerCertificate(const EmbeddedSignature& signature, SignerDetails& details) {
  if (!signature.certificate) return;
  const SignerCertificate& certificate = *signature.certificate;
  if (certificate.serial_number) {
    details.SerialNumberSize = static_cast<uint32_t>(certificate.serial_number->size());
    details.SerialNumber = certificate.serial_number;
  }
  details.IssuerName = certificate.issuer;
  details.SubjectName = certificate.subject;
}

bool GetAuthenticodeInformation(ITrust& trust, Log& log, const Text& path, SignerDetails& details) {
  using Step = EmbeddedSignature::Step;
  bool result = false;
  log.Write(u"GetAuthenticodeInformation \n");
  // The whole path, however long: the one whose signature was verified. A shortened
  // one would name another file, whose signer must not be reported as this one's.
  if (!path.empty()) {
    EmbeddedSignature signature = trust.ReadEmbeddedSignature(path);
    switch (signature.reached) {
      case Step::kQuery:
        break;
      case Step::kSignerInfoSize:
        log.Write(u"GetAuthenticodeInformation failed CryptMsgGetParam\n");
        break;
      case Step::kAllocate:
        log.Write(u"GetAuthenticodeInformation failed Allocate 1\n");
        break;
      case Step::kSignerInfo:
        log.Write(u"GetAuthenticodeInformation failed SignerInfo \n");
        break;
      case Step::kComplete:
        GetProgAndPublisherInfo(log, signature, details);
        ReadSignerCertificate(signature, details);
        result = true;
        break;
    }
  }
  log.Write(u"GetAuthenticodeInformation Fininshed\n");
  return result;
}

Text ReadSignerProgramName(ITrust& trust, Log& log, const Text& path, const Text& default_name) {
  SignerDetails details;
  if (!GetAuthenticodeInformation(trust, log, path, details)) {
    log.Write(u"Digital verification: Failed\n");
    return default_name;
  }
  auto or_null = [](const std::optional<Text>& text) -> Text { return text ? *text : Text(u"null"); };
  // The platform's record holds the serial number least significant byte first; the log
  // shows it as certificate viewers do, most significant byte first, so that a person can
  // tell from the log which certificate signed a deployed file.
  Text serial = u"null";
  if (details.SerialNumber && !details.SerialNumber->empty()) {
    static const char16_t kHex[] = u"0123456789ABCDEF";
    serial.clear();
    for (auto byte = details.SerialNumber->rbegin(); byte != details.SerialNumber->rend(); ++byte) {
      serial += kHex[*byte >> 4];
      serial += kHex[*byte & 0xF];
    }
  }
  log.Printf(u"Digital verification: SubjectName '%s'\n", or_null(details.SubjectName));
  log.Printf(u"Digital verification: ProgramName '%s'\n", or_null(details.ProgramName));
  log.Printf(u"Digital verification: MoreInfo    '%s'\n", or_null(details.MoreInfoLink));
  log.Printf(u"Digital verification: SerialNumber %s\n", serial);
  log.Printf(u"Digital verification: IssuerName '%s'\n", or_null(details.IssuerName));
  return details.ProgramName ? *details.ProgramName : default_name;
}

}  // namespace carryall
