// Portable layer. Resource table, manifest and naming.
#include "payload/resource_table.h"

#include <climits>

#include "base/path.h"
#include "base/result_codes.h"
#include "payload/temp_folder.h"

namespace carryall {

namespace {
constexpr std::size_t kFilePathBuffer = 520;
}  // namespace

int32_t ParseManifest(const Text& text, ManifestMap& map) {
  std::size_t pos = 0;
  // The next field: separators skipped, up to the next separator or the end.
  auto next = [&](Text& field) {
    while (pos < text.size() && text[pos] == u'*') ++pos;
    if (pos >= text.size()) return false;
    std::size_t end = text.find(u'*', pos);
    if (end == Text::npos) end = text.size();
    field = text.substr(pos, end - pos);
    pos = end;
    return true;
  };
  Text id, name, size;
  while (next(id)) {
    if (!next(name)) break;
    CResourceFile entry;
    entry.m_dwId = static_cast<uint32_t>(ReadDecimal(id));
    entry.m_strFileName = name;
    bool has_size = next(size);
    entry.m_dwSize = has_size ? static_cast<uint32_t>(ReadDecimal(size)) : 0;
    map[entry.m_dwId] = entry;
    if (!has_size) break;
  }
  return 0;
}

void EnumResourceProc(PayloadContext& ctx, ResourceTable& table, IResources* module, const Text& type,
                      const IResources::Name& name) {
  if (!name.is_integer || name.id > 0xFFFF) return;
  table.push_front(std::make_unique<CResource>(name.id, module, type));
  ctx.log.Printf(u"Enumerate Resources %s %x\n", type, name.id);
}

std::optional<IResources::Bytes> CResource::Lock(Log& log, std::u16string_view prefix) const {
  const Fallible<IResources::Found> found = m_hModule->FindResource(static_cast<uint16_t>(m_dwId), m_strType);
  if (!found) {
    log.Printf(u"%sFindResource has failed\n", Text(prefix));
    return std::nullopt;
  }
  const Fallible<IResources::Loaded> loaded = m_hModule->LoadResource(*found);
  if (!loaded) {
    // The manifest's line names the call; a payload file's says what it meant.
    log.Printf(prefix.empty() ? u"%sResourceLoaded has failed\n" : u"%sLoadResource has failed\n", Text(prefix));
    return std::nullopt;
  }
  const Fallible<IResources::Bytes> locked = m_hModule->LockResource(*found, *loaded);
  if (!locked) {
    log.Printf(u"%sLockResource has failed\n", Text(prefix));
    return std::nullopt;
  }
  return *locked;
}

int32_t CResource::ExtractSelf(PayloadContext& ctx, Text& text) const {
  const std::optional<IResources::Bytes> locked = Lock(ctx.log, u"ExtractSelf ");
  if (!locked) return kFail;
  text = ctx.code_page.FromAnsi(std::string(reinterpret_cast<const char*>(locked->data), locked->size));
  return kOk;
}

bool CResource::IsExecutable() {
  for (char16_t& c : m_strFileName) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  }
  std::size_t at = m_strFileName.find(u".exe");
  while (at == 0) at = m_strFileName.find(u".exe", 1);
  return at != Text::npos;
}

bool CResource::GetFilePath(PayloadContext& ctx, Text& path) const {
  Text folder = GetTempFolder(ctx);
  // A device name is refused like a name that leaves the folder: the bytes would go
  // to a serial port or nowhere, not into a file.
  if (!m_strFileName.empty() && (!IsContainedRelativePath(m_strFileName) || NamesReservedDevice(m_strFileName))) {
    return false;
  }
  std::optional<Text> joined = PathAppend(folder, m_strFileName, std::min(kFilePathBuffer, kMaxPath));
  if (!joined) return false;
  path = *joined;
  return true;
}

int32_t WorkOutFileNames(PayloadContext& ctx, ResourceTable& table, Text& program_path) {
  int32_t status = kOk;
  ManifestMap map;
  for (const auto& record : table) {
    if (record->m_dwId != kManifestId) continue;
    Text text;
    status = record->ExtractSelf(ctx, text);
    if (status == kOk) status = ParseManifest(text, map);
    break;
  }
  if (status == kOk) {
    for (const auto& record : table) {
      auto entry = map.find(record->m_dwId);
      if (entry == map.end()) continue;
      record->m_strFileName = entry->second.m_strFileName;
      record->m_dwSize = entry->second.m_dwSize;
      Text path;
      if (record->IsExecutable() && record->GetFilePath(ctx, path)) program_path = path;
      ctx.log.Printf(u"Work Out FileName %s, Bytes %ld\n", entry->second.m_strFileName,
                     static_cast<int32_t>(entry->second.m_dwSize));
    }
  }
  ctx.log.Printf(u"WorkOutFileNames %x\n", status);
  return status;
}

}  // namespace carryall
