// Tests of the Win32 trust provider and of the layer's owning handles, cross-built and
// run under Wine. The signed files are made at build time with openssl and osslsigncode
// (make_trust_fixtures.sh) into the "trust" folder beside this test program.
#include "platform/win32/win32_trust.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/handles.h"
#include "platform/win32/win32_platform.h"

namespace carryall::win32 {
namespace {

Text Widen(const char* ascii) { return Text(ascii, ascii + std::char_traits<char>::length(ascii)); }

std::string Narrow(const Text& text) { return std::string(text.begin(), text.end()); }

// The folder of this program, with its trailing backslash.
std::wstring ProgramFolder() {
  std::vector<wchar_t> path(32768);
  DWORD length = ::GetModuleFileNameW(/*hModule=*/nullptr, path.data(), static_cast<DWORD>(path.size()));
  std::wstring folder(path.data(), length);
  return folder.substr(0, folder.rfind(L'\\') + 1);
}

Text Fixture(const wchar_t* name) {
  std::wstring path = ProgramFolder() + L"trust\\" + name;
  return FromW(path.data(), path.size());
}

// The leaf's serial number as the certificate record holds it: least significant byte
// first, from the big-endian hexadecimal that the fixtures were issued with.
std::vector<uint8_t> LeafSerialLittleEndian() {
  std::string hex = CARRYALL_TRUST_SERIAL;
  std::vector<uint8_t> bytes;
  for (std::size_t i = hex.size(); i >= 2; i -= 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i - 2, 2), nullptr, 16)));
  }
  return bytes;
}

TEST(Win32TrustTest, VerdictsFollowTheFilesSignature) {
  constexpr uint32_t kBadDigest = 0x80096010;  // TRUST_E_BAD_DIGEST
  struct Case {
    const wchar_t* file;
    uint32_t status;
    uint32_t last_error;
  } cases[] = {
      {L"unsigned.exe", static_cast<uint32_t>(kTrustNoSignature), static_cast<uint32_t>(kTrustNoSignature)},
      // After a success the last error is whatever the provider left behind; under Wine
      // that is ERROR_MORE_DATA from a size query inside it.
      {L"signed.exe", 0, ERROR_MORE_DATA},
      {L"tampered.exe", kBadDigest, kBadDigest},
      // Wine answers a missing file with the open's own error as the status; Windows
      // answers TRUST_E_NOSIGNATURE. Either way the status is nonzero.
      {L"missing.exe", kErrorFileNotFound, kErrorFileNotFound},
  };
  Win32Trust trust;
  for (const Case& c : cases) {
    Text path = Fixture(c.file);
    ::SetLastError(0xDEAD);  // the verdict must carry the call's own last error
    TrustVerdict verdict = trust.VerifyFile(path);
    EXPECT_EQ(static_cast<uint32_t>(verdict.status), c.status) << Narrow(path);
    EXPECT_EQ(verdict.last_error, c.last_error) << Narrow(path);
  }
}

TEST(Win32TrustTest, FilesWithoutAnEmbeddedSignatureStopAtTheQuery) {
  Win32Trust trust;
  for (const wchar_t* file : {L"unsigned.exe", L"missing.exe"}) {
    EmbeddedSignature signature = trust.ReadEmbeddedSignature(Fixture(file));
    EXPECT_EQ(signature.reached, EmbeddedSignature::Step::kQuery) << Narrow(Fixture(file));
    EXPECT_EQ(signature.opus, EmbeddedSignature::Opus::kAbsent) << Narrow(Fixture(file));
    EXPECT_FALSE(signature.certificate) << Narrow(Fixture(file));
  }
}

// Reading the signer does not verify anything: the tampered copy carries the same
// signature block and gives the same details.
TEST(Win32TrustTest, SignerDetailsOfAnOsslsigncodeSignature) {
  Win32Trust trust;
  for (const wchar_t* file : {L"signed.exe", L"tampered.exe"}) {
    SCOPED_TRACE(Narrow(Fixture(file)));
    EmbeddedSignature signature = trust.ReadEmbeddedSignature(Fixture(file));
    EXPECT_EQ(signature.reached, EmbeddedSignature::Step::kComplete);
    ASSERT_EQ(signature.opus, EmbeddedSignature::Opus::kDecoded);
    // osslsigncode writes the program name "Name" in the ASCII choice of SpcString.
    // Wine's decoder takes the string's bytes as big-endian UTF-16 whatever the choice,
    // so "Na" and "me" come back as two characters; Windows would give "Name". The
    // project's own signer writes the Unicode choice, which both decode alike.
    EXPECT_EQ(signature.opus_info.program_name, std::optional<Text>(u"\x4E61\x6D65"));
    ASSERT_TRUE(signature.opus_info.more_info);
    EXPECT_EQ(signature.opus_info.more_info->choice, kLinkUrl);
    EXPECT_EQ(signature.opus_info.more_info->text, Widen(CARRYALL_TRUST_MORE_INFO));
    EXPECT_FALSE(signature.opus_info.publisher_info) << "osslsigncode writes no publisher link";
    ASSERT_TRUE(signature.certificate);
    EXPECT_EQ(signature.certificate->subject, std::optional<Text>(Widen(CARRYALL_TRUST_SIGNER_NAME)));
    EXPECT_EQ(signature.certificate->issuer, std::optional<Text>(Widen(CARRYALL_TRUST_CA_NAME)));
    EXPECT_EQ(signature.certificate->serial_number, std::optional<std::vector<uint8_t>>(LeafSerialLittleEndian()));
  }
}

TEST(Win32TrustTest, WideTextsAreCopiedToTheirTerminator) {
  struct Case {
    const wchar_t* text;
    std::optional<Text> copy;
  } cases[] = {
      {nullptr, std::nullopt},
      {L"", Text()},
      {L"https://example.test/more", u"https://example.test/more"},
      {L"Caf\u00e9 \u4e2d\0hidden", u"Caf\u00e9 \u4e2d"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CopyWideText(c.text), c.copy) << (c.text ? Narrow(FromW(c.text, wcslen(c.text))) : "null");
  }
}

// ---- owning handles ----

std::wstring ScratchPath(const wchar_t* name) {
  wchar_t temp[MAX_PATH];
  DWORD length = ::GetTempPathW(MAX_PATH, temp);
  return std::wstring(temp, length) + L"carryall-handles-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + name;
}

TEST(Win32HandlesTest, OwnedFileIsClosedByResetAndByMove) {
  std::wstring path = ScratchPath(L"file.bin");
  auto open_exclusive = [&] {
    return UniqueFile(::CreateFileW(path.c_str(), GENERIC_WRITE, /*dwShareMode=*/0, /*lpSecurityAttributes=*/nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr));
  };
  UniqueFile first = open_exclusive();
  ASSERT_TRUE(first.valid());
  UniqueFile second = open_exclusive();
  EXPECT_FALSE(second.valid()) << "held exclusively";
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

  UniqueFile moved = std::move(first);
  EXPECT_FALSE(first.valid());
  EXPECT_FALSE(open_exclusive().valid()) << "the move keeps it open";
  moved = UniqueFile();  // closes
  EXPECT_TRUE(open_exclusive().valid()) << "a temporary owner closes as it goes";
  EXPECT_TRUE(::DeleteFileW(path.c_str()));
}

TEST(Win32HandlesTest, NamedKernelObjectEndsWithItsLastOwner) {
  std::wstring name = L"carryall-handles-event-" + std::to_wstring(::GetCurrentProcessId());
  UniqueKernelHandle event(::CreateEventW(/*lpEventAttributes=*/nullptr, /*bManualReset=*/TRUE,
                                          /*bInitialState=*/FALSE, name.c_str()));
  ASSERT_TRUE(event.valid());
  {
    UniqueKernelHandle other(::OpenEventW(SYNCHRONIZE, /*bInheritHandle=*/FALSE, name.c_str()));
    EXPECT_TRUE(other.valid());
  }
  EXPECT_TRUE(UniqueKernelHandle(::OpenEventW(SYNCHRONIZE, /*bInheritHandle=*/FALSE, name.c_str())).valid())
      << "still owned";
  event.reset();
  UniqueKernelHandle after(::OpenEventW(SYNCHRONIZE, /*bInheritHandle=*/FALSE, name.c_str()));
  EXPECT_FALSE(after.valid());
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// A handle used after its owner let go is no longer the key: the system refuses it.
TEST(Win32HandlesTest, OwnedRegistryKeyIsClosedByReset) {
  UniqueKey key;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", /*ulOptions=*/0, KEY_READ, key.put()), ERROR_SUCCESS);
  HKEY seen = key.get();
  DWORD subkeys = 0;
  auto query = [&subkeys](HKEY handle) {
    return ::RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr);
  };
  EXPECT_EQ(query(seen), ERROR_SUCCESS);
  EXPECT_GT(subkeys, 0u);
  key.reset();
  EXPECT_FALSE(key.valid());
  EXPECT_EQ(query(seen), ERROR_INVALID_HANDLE);
}

}  // namespace
}  // namespace carryall::win32
