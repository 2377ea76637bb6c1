// Simulated Windows for the host tests: the trust provider.
#include "platform/sim/sim_trust.h"

#include "platform/unique_handle.h"

namespace carryall::sim {

namespace {
// A simulated handle is the counter of open handles it belongs to.
struct CountedTraits {
  using pointer = int*;
  static pointer Invalid() { return nullptr; }
  static void Close(pointer open) { --*open; }
};
using CountedHandle = UniqueHandle<CountedTraits>;
}  // namespace

SimTrust::SimTrust() {
  signature.reached = EmbeddedSignature::Step::kComplete;
  signature.opus = EmbeddedSignature::Opus::kDecoded;
  signature.opus_info.program_name = Text(u"SQL Carryall");
  signature.certificate = SignerCertificate{std::vector<uint8_t>{0x2A, 0x10, 0x7F}, Text(u"Carryall Development CA"),
                                            Text(u"Carryall Development")};
}

TrustVerdict SimTrust::VerifyFile(const Text& path) {
  verified.push_back(path);
  // The provider could not read the file (another process holds it).
  if (Injected(faults, "ITrust::VerifyFile")) return TrustVerdict{kTrustNoSignature, 32};
  return verdict;
}

EmbeddedSignature SimTrust::ReadEmbeddedSignature(const Text& path) {
  using Step = EmbeddedSignature::Step;
  using Opus = EmbeddedSignature::Opus;
  read.push_back(path);
  if (Injected(faults, "ITrust::ReadEmbeddedSignature")) return EmbeddedSignature{};  // CryptQueryObject failed
  auto open = [this] {
    ++open_handles;
    ++handles_opened;
    return CountedHandle(&open_handles);
  };
  if (signature.reached == Step::kQuery) return signature;
  CountedHandle store = open();
  CountedHandle message = open();
  if (signature.reached == Step::kSignerInfoSize || signature.reached == Step::kAllocate) return signature;
  CountedHandle signer_info = open();
  if (signature.reached == Step::kSignerInfo) return signature;
  CountedHandle opus;
  if (signature.opus == Opus::kDecode || signature.opus == Opus::kDecoded) opus = open();
  CountedHandle certificate;
  if (signature.certificate) certificate = open();
  return signature;
}

}  // namespace carryall::sim
