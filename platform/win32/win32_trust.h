// Win32 layer. The trust provider: WinVerifyTrust and the CryptoAPI reading of an
// embedded Authenticode signature, with the records, flags and orders the core relies on.
#pragma once

#include <windows.h>

#include <optional>

#include "platform/trust.h"

namespace carryall::win32 {

// A copy of a NUL-terminated text that a CryptoAPI buffer holds; nullopt for null.
std::optional<Text> CopyWideText(const wchar_t* text);

class Win32Trust : public ITrust {
 public:
  TrustVerdict VerifyFile(const Text& path) override;
  EmbeddedSignature ReadEmbeddedSignature(const Text& path) override;
};

}  // namespace carryall::win32
