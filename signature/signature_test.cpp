#include "signature/signature.h"

#include <gtest/gtest.h>

#include <functional>

#include "base/result_codes.h"
#include "base/string_ids.h"
#include "platform/sim/sim_test.h"

namespace carryall {
namespace {

using sim::Narrow;
using Step = EmbeddedSignature::Step;
using Opus = EmbeddedSignature::Opus;

const Text kPath = u"C:\\work\\CarryallInstaller.exe";

TEST(DescribeVerificationTest, EveryStatusHasItsText) {
  struct Row {
    uint32_t status;
    uint32_t last_error;
    const char* text;
  } rows[] = {
      {0, 0, "The file \"C:\\work\\CarryallInstaller.exe\" is signed and the signature was verified.\n"},
      {0x800B0100, 0x800B0100, "The file \"C:\\work\\CarryallInstaller.exe\" is not signed. Error 0x800b0100\n"},
      {0x800B0100, 0x800B0003, "The file \"C:\\work\\CarryallInstaller.exe\" is not signed. Error 0x800b0003\n"},
      {0x800B0100, 0x800B0001, "The file \"C:\\work\\CarryallInstaller.exe\" is not signed. Error 0x800b0001\n"},
      {0x800B0100, 0x2,
       "An unknown error occurred trying to verify the signature of the \"C:\\work\\CarryallInstaller.exe\" file. "
       "Error 0x2\n"},
      {0x800B0111, 0, "The signature is present, but specifically disallowed.\n"},
      {0x800B0004, 0, "The signature is present, but not trusted.\n"},
      {0x80092026, 0,
       "The subject or the publisher wasn't explicitly trusted by the admin and admin policy has disabled user "
       "trust. No signature, publisher or timestamp errors.\n"},
      {0x80096010, 0x800B0100, "Error is: 0x80096010.\n"},
      {0x800B010A, 0, "Error is: 0x800b010a.\n"},
  };
  for (const Row& row : rows) {
    TrustVerdict verdict{static_cast<int32_t>(row.status), row.last_error};
    EXPECT_EQ(Narrow(DescribeVerification(kPath, verdict)), row.text) << std::hex << row.status;
  }
}

class VerifyTest : public sim::SimTest {};

TEST_F(VerifyTest, LogsTheDescriptionInsideQuotesAndReturnsTheStatus) {
  machine.trust.verdict = {static_cast<int32_t>(0x80096010), 0};
  Text description;
  EXPECT_EQ(VerifyFileSignature(machine.trust, log, kPath, description), static_cast<int32_t>(0x80096010));
  EXPECT_EQ(Narrow(description), "Error is: 0x80096010.\n");
  EXPECT_EQ(Narrow(log.pending()), "Digital verification: 'Error is: 0x80096010.\n'\n");
  EXPECT_EQ(machine.trust.verified, std::vector<Text>{kPath});
}

TEST_F(VerifyTest, EmptyPathIsNeverHandedToTheProvider) {
  Text description = u"old";
  EXPECT_EQ(VerifyFileSignature(machine.trust, log, u"", description), kTrustNoSignature);
  EXPECT_EQ(Narrow(description),
            "An unknown error occurred trying to verify the signature of the \"\" file. Error 0x2\n");
  EXPECT_TRUE(machine.trust.verified.empty());
}

// ---- signer details ----

class SignerDetailsTest : public sim::SimTest {};

// The program name start-up hands the wizard: the signed one, or setting 201.
Text ReadSignerName(sim::SimMachine& m, FileLog& l) {
  return ReadSignerProgramName(m.platform.trust, l, GetModulePath(m.platform.environment),
                               m.platform.resources.LoadString(kIdsDefaultProgramName).value_or(Text()));
}

const std::string kStart = "GetAuthenticodeInformation \n";
const std::string kFinished = "GetAuthenticodeInformation Fininshed\n";

TEST_F(SignerDetailsTest, EveryFailureToReadTheSignerKeepsTheDefaultName) {
  struct Row {
    const char* name;
    Step reached;
    Text path;
    std::string line;  // between the first line and "Fininshed"
    bool asked;
  } rows[] = {
      {"no embedded signature", Step::kQuery, kPath, "", true},
      {"signer size", Step::kSignerInfoSize, kPath, "GetAuthenticodeInformation failed CryptMsgGetParam\n", true},
      {"allocation", Step::kAllocate, kPath, "GetAuthenticodeInformation failed Allocate 1\n", true},
      {"signer information", Step::kSignerInfo, kPath, "GetAuthenticodeInformation failed SignerInfo \n", true},
      {"empty module path", Step::kComplete, u"", "", false},
  };
  for (const Row& row : rows) {
    sim::SimMachine m;
    FileLog l(m.files, m.code_page);
    m.files.module_path = row.path;
    m.trust.signature.reached = row.reached;
    const Text program_name = ReadSignerName(m, l);
    EXPECT_EQ(Narrow(l.pending()), kStart + row.line + kFinished + "Digital verification: Failed\n") << row.name;
    EXPECT_EQ(Narrow(program_name), "Mini") << row.name;
    EXPECT_EQ(m.trust.read.size(), row.asked ? 1u : 0u) << row.name;
    EXPECT_EQ(m.trust.open_handles, 0) << row.name;
  }
}

TEST_F(SignerDetailsTest, TheSignerIsReadFromTheWholePathHoweverLong) {
  // 259 characters and the terminator fill MAX_PATH; the longer ones are verified whole,
  // and their signer is the one to name.
  for (std::size_t length : {259u, 260u, 1000u}) {
    sim::SimMachine m;
    FileLog l(m.files, m.code_page);
    m.files.module_path = u"C:\\" + Text(length - 7, u'a') + u".exe";
    const Text program_name = ReadSignerName(m, l);
    EXPECT_EQ(m.trust.read, std::vector<Text>{m.files.module_path}) << length;
    EXPECT_EQ(Narrow(program_name), "SQL Carryall") << length;
  }
}

TEST_F(SignerDetailsTest, OpusInfoAndCertificateCases) {
  struct Row {
    const char* name;
    std::function<void(EmbeddedSignature&)> change;
    const char* opus_lines;  // logged between the first line and "Fininshed"
    const char* details;     // the five detail lines' values: subject|program|more|serial|issuer
    const char* program;     // m_strProgramName afterwards
  } rows[] = {
      {"program name only", [](EmbeddedSignature&) {},
       "GetProgAndPublisherInfo pPublisheInfo = null\nGetProgAndPublisherInfo pMoreInfo = null\n",
       "Carryall Development|SQL Carryall|null|7F102A|Carryall Development CA", "SQL Carryall"},
      {"no opus-info attribute", [](EmbeddedSignature& s) { s.opus = Opus::kAbsent; }, "",
       "Carryall Development|null|null|7F102A|Carryall Development CA", "Mini"},
      {"size query fails", [](EmbeddedSignature& s) { s.opus = Opus::kDecodeSize; },
       "GetProgAndPublisherInfo failed CryptDecodeObject\n",
       "Carryall Development|null|null|7F102A|Carryall Development CA", "Mini"},
      {"no room for the attribute", [](EmbeddedSignature& s) { s.opus = Opus::kAllocate; },
       "GetProgAndPublisherInfo failed Allocate1\n", "Carryall Development|null|null|7F102A|Carryall Development CA",
       "Mini"},
      {"decode fails", [](EmbeddedSignature& s) { s.opus = Opus::kDecode; },
       "GetProgAndPublisherInfo failed CryptoDecodeObject\n",
       "Carryall Development|null|null|7F102A|Carryall Development CA", "Mini"},
      {"no program name, links still read",
       [](EmbeddedSignature& s) {
         s.opus_info.program_name.reset();
         s.opus_info.publisher_info = SignerLink{kLinkUrl, u"https://example.test/"};
         s.opus_info.more_info = SignerLink{kLinkUrl, u"https://example.test/more"};
       },
       "GetProgAndPublisherInfo failed pwszProgramName\nGetProgAndPublisherInfo switch 1 1\n"
       "GetProgAndPublisherInfo switch MoreInfo 1\n",
       "Carryall Development|null|https://example.test/more|7F102A|Carryall Development CA", "Mini"},
      {"moniker links give null",
       [](EmbeddedSignature& s) {
         s.opus_info.publisher_info = SignerLink{kLinkMoniker, u""};
         s.opus_info.more_info = SignerLink{kLinkMoniker, u""};
       },
       "GetProgAndPublisherInfo switch 1 2\nGetProgAndPublisherInfo switch MoreInfo 2\n",
       "Carryall Development|SQL Carryall|null|7F102A|Carryall Development CA", "SQL Carryall"},
      {"file links are read",
       [](EmbeddedSignature& s) {
         s.opus_info.publisher_info = SignerLink{kLinkFile, u"publisher.txt"};
         s.opus_info.more_info = SignerLink{kLinkFile, u"C:\\more.txt"};
       },
       "GetProgAndPublisherInfo switch 1 3\nGetProgAndPublisherInfo switch MoreInfo 3\n",
       "Carryall Development|SQL Carryall|C:\\more.txt|7F102A|Carryall Development CA", "SQL Carryall"},
      {"unknown link choice gives null",
       [](EmbeddedSignature& s) {
         s.opus_info.more_info = SignerLink{7, u"ignored"};
       },
       "GetProgAndPublisherInfo pPublisheInfo = null\nGetProgAndPublisherInfo switch MoreInfo 7\n",
       "Carryall Development|SQL Carryall|null|7F102A|Carryall Development CA", "SQL Carryall"},
      {"certificate not in the store", [](EmbeddedSignature& s) { s.certificate.reset(); },
       "GetProgAndPublisherInfo pPublisheInfo = null\nGetProgAndPublisherInfo pMoreInfo = null\n",
       "null|SQL Carryall|null|null|null", "SQL Carryall"},
      {"no room for the serial number, no names",
       [](EmbeddedSignature& s) {
         s.certificate->serial_number.reset();
         s.certificate->issuer.reset();
         s.certificate->subject.reset();
       },
       "GetProgAndPublisherInfo pPublisheInfo = null\nGetProgAndPublisherInfo pMoreInfo = null\n",
       "null|SQL Carryall|null|null|null", "SQL Carryall"},
      {"serial number most significant byte first",
       [](EmbeddedSignature& s) {
         s.certificate->serial_number = std::vector<uint8_t>{0xDE, 0xC0, 0x17, 0x5A};
       },
       "GetProgAndPublisherInfo pPublisheInfo = null\nGetProgAndPublisherInfo pMoreInfo = null\n",
       "Carryall Development|SQL Carryall|null|5A17C0DE|Carryall Development CA", "SQL Carryall"},
      {"serial number keeps its zero bytes at both ends",
       [](EmbeddedSignature& s) {
         s.certificate->serial_number = std::vector<uint8_t>{0x00, 0x05, 0x80, 0x00};
       },
       "GetProgAndPublisherInfo pPublisheInfo = null\nGetProgAndPublisherInfo pMoreInfo = null\n",
       "Carryall Development|SQL Carryall|null|00800500|Carryall Development CA", "SQL Carryall"},
      {"empty serial number", [](EmbeddedSignature& s) { s.certificate->serial_number = std::vector<uint8_t>{}; },
       "GetProgAndPublisherInfo pPublisheInfo = null\nGetProgAndPublisherInfo pMoreInfo = null\n",
       "Carryall Development|SQL Carryall|null|null|Carryall Development CA", "SQL Carryall"},
      {"empty program name is still the signed name", [](EmbeddedSignature& s) { s.opus_info.program_name = Text(); },
       "GetProgAndPublisherInfo pPublisheInfo = null\nGetProgAndPublisherInfo pMoreInfo = null\n",
       "Carryall Development||null|7F102A|Carryall Development CA", ""},
  };
  for (const Row& row : rows) {
    sim::SimMachine m;
    FileLog l(m.files, m.code_page);
    row.change(m.trust.signature);
    const Text program_name = ReadSignerName(m, l);
    std::string logged = Narrow(l.pending());

    std::string values[5];
    std::string details = row.details;
    for (int i = 0, from = 0; i < 5; ++i) {
      std::size_t bar = details.find('|', from);
      values[i] = details.substr(from, bar == std::string::npos ? std::string::npos : bar - from);
      from = static_cast<int>(bar + 1);
    }
    EXPECT_EQ(logged, std::string(kStart) + row.opus_lines + kFinished + "Digital verification: SubjectName '" +
                          values[0] + "'\n" + "Digital verification: ProgramName '" + values[1] + "'\n" +
                          "Digital verification: MoreInfo    '" + values[2] + "'\n" +
                          "Digital verification: SerialNumber " + values[3] + "\n" +
                          "Digital verification: IssuerName '" + values[4] + "'\n")
        << row.name;
    EXPECT_EQ(Narrow(program_name), row.program) << row.name;
    EXPECT_EQ(m.trust.open_handles, 0) << row.name;
  }
}

TEST_F(SignerDetailsTest, SerialNumberKeepsItsBytesAndSize) {
  SignerDetails details;
  ReadSignerCertificate(machine.trust.signature, details);
  EXPECT_EQ(details.SerialNumberSize, 3u);
  EXPECT_EQ(details.SerialNumber, (std::vector<uint8_t>{0x2A, 0x10, 0x7F}));
}

}  // namespace
}  // namespace carryall
