// Simulated Windows for the host tests: a trust provider that answers what the test
// sets, records what it was asked, and counts the handles its reading opens and closes.
#pragma once

#include <vector>

#include "platform/trust.h"
#include "platform/sim/faults.h"

namespace carryall::sim {

class SimTrust : public ITrust {
 public:
  // Answers as for a file signed by the development certificate, program name
  // "SQL Carryall", no links.
  SimTrust();

  TrustVerdict VerifyFile(const Text& path) override;
  // Opens the handles the real reading holds up to the step where signature stops
  // (store and message, signer information, decoded attribute, certificate context)
  // and returns signature.
  EmbeddedSignature ReadEmbeddedSignature(const Text& path) override;

  TrustVerdict verdict;
  EmbeddedSignature signature;
  std::vector<Text> verified;  // every path VerifyFile was given, in order
  std::vector<Text> read;      // every path ReadEmbeddedSignature was given
  int open_handles = 0;        // open now
  int handles_opened = 0;      // in all
  FaultPlan* faults = nullptr;
};

}  // namespace carryall::sim
