// Portable layer. Signature verification and signer details.
#include "signature/signature.h"

#include "app/carryall_app.h"
#include "app/string_ids.h"

namespace carryall {

int32_t VerifyFileSignature(CCarryallInstallerApp& /*app*/, const Text& /*path*/, Text& description) {
  // Trust-provider verification is not wired in yet: every file verifies.
  description.clear();
  return 0;
}

void ReadSignerDetails(CCarryallInstallerApp& app, const Text& /*path*/) {
  // Until the signature's own program name is read, the wizard gets the default.
  app.m_strProgramName = app.LoadString(kIdsDefaultProgramName);
}

}  // namespace carryall
