// Portable layer. Authenticode verification of the bootstrapper's own file and the
// signer details handed to the wizard.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace carryall {

class CCarryallInstallerApp;

// 0 when the file's signature verifies, otherwise the verification status; description
// receives a text for the question the user is asked.
int32_t VerifyFileSignature(CCarryallInstallerApp& app, const Text& path, Text& description);

// Logs the signer details and sets m_strProgramName; never fails.
void ReadSignerDetails(CCarryallInstallerApp& app, const Text& path);

}  // namespace carryall
