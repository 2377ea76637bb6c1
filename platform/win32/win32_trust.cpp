// Win32 layer. The trust provider.
#include "platform/win32/win32_trust.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstddef>
#include <cwchar>
#include <vector>

#include "platform/win32/handles.h"
#include "platform/win32/system_dlls.h"
#include "platform/win32/win32_platform.h"

namespace carryall::win32 {

namespace {

// The request goes out in its 48-byte form: it ends with dwUIContext, without the
// signature-settings member that later headers add. The provider reads the record only
// as far as cbStruct says, so the size is set here, not taken from the header's struct.
constexpr DWORD kWinTrustDataSize = 48;
constexpr DWORD kWinTrustFileInfoSize = 16;
#if !defined(_WIN64)
static_assert(offsetof(WINTRUST_DATA, dwUIContext) + sizeof(DWORD) == kWinTrustDataSize,
              "the fields up to dwUIContext must end at byte 48");
static_assert(sizeof(WINTRUST_FILE_INFO) == kWinTrustFileInfoSize);
#endif
static_assert(kLinkUrl == SPC_URL_LINK_CHOICE && kLinkFile == SPC_FILE_LINK_CHOICE);

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;  // 0x10001
static_assert(kEncoding == 0x10001);
constexpr char kOpusInfoObjectId[] = "1.3.6.1.4.1.311.2.1.12";  // SPC_SP_OPUS_INFO_OBJID

SignerLink CopyLink(const SPC_LINK& link) {
  SignerLink copy;
  copy.choice = link.dwLinkChoice;
  // Only the URL and the file choices carry a text; a moniker is kept as its choice alone.
  if (link.dwLinkChoice == kLinkUrl) copy.text = CopyWideText(link.pwszUrl).value_or(Text());
  if (link.dwLinkChoice == kLinkFile) copy.text = CopyWideText(link.pwszFile).value_or(Text());
  return copy;
}

// Decodes the signer's first opus-info attribute, from its first value, into signature.
void ReadOpusInfo(const CMSG_SIGNER_INFO& signer, EmbeddedSignature& signature) {
  const CRYPT_ATTRIBUTE* opus = nullptr;
  for (DWORD i = 0; i < signer.AuthAttrs.cAttr; ++i) {
    const CRYPT_ATTRIBUTE& attribute = signer.AuthAttrs.rgAttr[i];
    if (::lstrcmpA(attribute.pszObjId, kOpusInfoObjectId) == 0) {
      opus = &attribute;
      break;
    }
  }
  if (opus == nullptr) return;  // opus stays kAbsent
  // An attribute without any value cannot be decoded; it fails like a bad value would.
  if (opus->cValue == 0) {
    signature.opus = EmbeddedSignature::Opus::kDecodeSize;
    return;
  }
  const CRYPT_ATTR_BLOB& value = opus->rgValue[0];
  DWORD size = 0;
  if (!sysdll::CryptDecodeObject(kEncoding, kOpusInfoObjectId, value.pbData, value.cbData, /*flags=*/0,
                                 /*decoded=*/nullptr, &size)) {
    signature.opus = EmbeddedSignature::Opus::kDecodeSize;
    return;
  }
  UniqueLocal<SPC_SP_OPUS_INFO> info(static_cast<SPC_SP_OPUS_INFO*>(::LocalAlloc(LPTR, size)));
  if (!info) {
    signature.opus = EmbeddedSignature::Opus::kAllocate;
    return;
  }
  if (!sysdll::CryptDecodeObject(kEncoding, kOpusInfoObjectId, value.pbData, value.cbData, /*flags=*/0, info.get(),
                                 &size)) {
    signature.opus = EmbeddedSignature::Opus::kDecode;
    return;
  }
  signature.opus = EmbeddedSignature::Opus::kDecoded;
  OpusInfo& out = signature.opus_info;
  out.program_name = CopyWideText(info.get()->pwszProgramName);
  if (info.get()->pPublisherInfo != nullptr) out.publisher_info = CopyLink(*info.get()->pPublisherInfo);
  if (info.get()->pMoreInfo != nullptr) out.more_info = CopyLink(*info.get()->pMoreInfo);
}

// The certificate's simple display name: of its issuer with CERT_NAME_ISSUER_FLAG, of its
// subject with no flags. nullopt when the name has no length.
std::optional<Text> ReadName(PCCERT_CONTEXT certificate, DWORD flags) {
  DWORD length = sysdll::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, flags, /*type_para=*/nullptr,
                                            /*name=*/nullptr, /*length=*/0);
  if (length == 0) return std::nullopt;
  std::vector<wchar_t> name(length, L'\0');
  sysdll::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, flags, /*type_para=*/nullptr, name.data(),
                             length);
  name.back() = L'\0';
  return CopyWideText(name.data());
}

// Finds the signing certificate in the signature's own store by issuer and serial number.
std::optional<SignerCertificate> ReadCertificate(HCERTSTORE store, const CMSG_SIGNER_INFO& signer) {
  // The key refers to the signer information's blobs; nothing is copied.
  CERT_INFO key = {};
  key.Issuer = signer.Issuer;
  key.SerialNumber = signer.SerialNumber;
  UniqueCertContext certificate(sysdll::CertFindCertificateInStore(store, kEncoding, /*find_flags=*/0,
                                                                   CERT_FIND_SUBJECT_CERT, &key,
                                                                   /*previous=*/nullptr));
  if (!certificate) return std::nullopt;
  SignerCertificate out;
  const CRYPT_INTEGER_BLOB& serial = certificate.get()->pCertInfo->SerialNumber;
  out.serial_number.emplace(serial.pbData, serial.pbData + serial.cbData);
  out.issuer = ReadName(certificate.get(), CERT_NAME_ISSUER_FLAG);
  out.subject = ReadName(certificate.get(), /*flags=*/0);
  return out;
}

}  // namespace

std::optional<Text> CopyWideText(const wchar_t* text) {
  if (text == nullptr) return std::nullopt;
  return FromW(text, std::wcslen(text));
}

TrustVerdict Win32Trust::VerifyFile(const Text& path) {
  WINTRUST_FILE_INFO file = {};
  file.cbStruct = kWinTrustFileInfoSize;
  file.pcwszFilePath = W(path);
  file.hFile = nullptr;           // the provider opens the file by path
  file.pgKnownSubject = nullptr;  // the provider finds the subject type itself

  WINTRUST_DATA request = {};
  request.cbStruct = kWinTrustDataSize;
  request.pPolicyCallbackData = nullptr;
  request.pSIPClientData = nullptr;
  request.dwUIChoice = WTD_UI_NONE;
  request.fdwRevocationChecks = WTD_REVOKE_NONE;
  request.dwUnionChoice = WTD_CHOICE_FILE;
  request.pFile = &file;
  // No state is kept, so no second call has to close it.
  request.dwStateAction = WTD_STATEACTION_IGNORE;
  request.hWVTStateData = nullptr;
  request.pwszURLReference = nullptr;
  request.dwProvFlags = WTD_SAFER_FLAG;
  request.dwUIContext = WTD_UICONTEXT_EXECUTE;

  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  TrustVerdict verdict;
  verdict.status = sysdll::WinVerifyTrust(/*window=*/nullptr, &action, &request);
  verdict.last_error = ::GetLastError();
  return verdict;
}

EmbeddedSignature Win32Trust::ReadEmbeddedSignature(const Text& path) {
  using Step = EmbeddedSignature::Step;
  EmbeddedSignature signature;
  // Declared so that they go in the order signer information, store, message.
  UniqueCryptMsg message;
  UniqueCertStore store;
  if (!sysdll::CryptQueryObject(CERT_QUERY_OBJECT_FILE, W(path), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                                CERT_QUERY_FORMAT_FLAG_BINARY, /*flags=*/0, /*encoding=*/nullptr,
                                /*content_type=*/nullptr, /*format_type=*/nullptr, store.put(), message.put(),
                                /*context=*/nullptr)) {
    signature.reached = Step::kQuery;
    return signature;
  }
  DWORD size = 0;
  if (!sysdll::CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, /*index=*/0, /*data=*/nullptr, &size)) {
    signature.reached = Step::kSignerInfoSize;
    return signature;
  }
  UniqueLocal<CMSG_SIGNER_INFO> signer(static_cast<CMSG_SIGNER_INFO*>(::LocalAlloc(LPTR, size)));
  if (!signer) {
    signature.reached = Step::kAllocate;
    return signature;
  }
  if (!sysdll::CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, /*index=*/0, signer.get(), &size)) {
    signature.reached = Step::kSignerInfo;
    return signature;
  }
  signature.reached = Step::kComplete;
  ReadOpusInfo(*signer.get(), signature);
  signature.certificate = ReadCertificate(store.get(), *signer.get());
  return signature;
}

}  // namespace carryall::win32
