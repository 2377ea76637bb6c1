// Simulated Windows for the host tests: the disks, and the environment and access lists
// that belong with them.
#include "platform/sim/sim_platform.h"

#include <algorithm>
#include <vector>

namespace carryall::sim {

namespace {
char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
}  // namespace

namespace {
bool IsSep(char16_t c) { return c == u'\\' || c == u'/'; }

// A path as Windows reads it before it looks for the entry: a run of separators is one,
// a "." component names the folder it is in and ".." the one above (never above the
// root), and a separator at the end names the same entry as none. A path in the
// verbatim namespace ("\\?\") is taken as it is.
Text Normalized(const Text& path) {
  auto starts = [&](std::u16string_view prefix) {
    if (path.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
      if (prefix[i] == u'\\' ? !IsSep(path[i]) : path[i] != prefix[i]) return false;
    }
    return true;
  };
  if (starts(u"\\\\?\\")) return path;
  Text root;
  if (starts(u"\\\\.\\")) {
    root = path.substr(0, 4);
  } else if (starts(u"\\\\")) {
    root = u"\\\\";
  } else if (path.size() >= 2 && path[1] == u':') {
    root = path.substr(0, path.size() >= 3 && IsSep(path[2]) ? 3 : 2);
  } else if (!path.empty() && IsSep(path[0])) {
    root = path.substr(0, 1);
  }
  std::vector<Text> parts;
  Text part;
  for (std::size_t i = root.size(); i <= path.size(); ++i) {
    if (i < path.size() && !IsSep(path[i])) {
      part.push_back(path[i]);
      continue;
    }
    if (part == u"..") {
      if (!parts.empty() && parts.back() != u"..") {
        parts.pop_back();
      } else if (root.empty()) {
        parts.push_back(part);  // a relative path keeps what it cannot resolve
      }
    } else if (!part.empty() && part != u".") {
      parts.push_back(part);
    }
    part.clear();
  }
  Text out = root;
  for (std::size_t i = 0; i < parts.size(); ++i) out += (i == 0 ? u"" : u"\\") + parts[i];
  return out;
}

std::string ParentKey(const std::string& key) {
  std::size_t cut = key.find_last_of('\\');
  return cut == std::string::npos ? std::string() : key.substr(0, cut);
}
}  // namespace

class SimReadFile : public IReadFile {
 public:
  SimReadFile(SimFileSystem& fs, std::string bytes) : fs_(fs), bytes_(std::move(bytes)) { ++fs_.open_handles; }
  ~SimReadFile() override { --fs_.open_handles; }
  Fallible<uint32_t> Size() override {
    if (Injected(fs_.faults, "IReadFile::Size")) return Failed(kErrorAccessDenied);
    return static_cast<uint32_t>(bytes_.size());
  }
  Status SeekFromEnd(int32_t distance) override {
    if (Injected(fs_.faults, "IReadFile::SeekFromEnd")) return Failed(kErrorAccessDenied);
    long long at = static_cast<long long>(bytes_.size()) + distance;
    if (at < 0) return Failed(kErrorInvalidParameter);  // ERROR_NEGATIVE_SEEK in truth
    pos_ = static_cast<std::size_t>(at);
    return Succeeded();
  }
  Fallible<uint32_t> Read(void* buffer, uint32_t size) override {
    if (Injected(fs_.faults, "IReadFile::Read")) return Failed(kErrorAccessDenied);
    const uint32_t got =
        pos_ >= bytes_.size() ? 0 : static_cast<uint32_t>(std::min<std::size_t>(size, bytes_.size() - pos_));
    std::copy_n(bytes_.data() + pos_, got, static_cast<char*>(buffer));
    pos_ += got;
    return got;
  }

 private:
  SimFileSystem& fs_;
  std::string bytes_;
  std::size_t pos_ = 0;
};

// A handle of OpenForWriting, OpenForHolding or OpenEntry. It stays on the file it
// opened (its key and identity), and a deletion it was marked for happens as it closes.
class SimFileHandle : public IFileHandle {
 public:
  enum class Kind { kWrite, kHold, kEntry, kLook };
  SimFileHandle(SimFileSystem& fs, std::string key, Kind kind) : fs_(fs), key_(std::move(key)), kind_(kind) {
    SimFileSystem::Node& node = *fs_.Find(key_);
    inode_ = node.inode;
    ++Count(node);
    ++fs_.open_handles;
  }
  ~SimFileHandle() override {
    --fs_.open_handles;
    SimFileSystem::Node* node = Own();
    if (!node) return;
    --Count(*node);
    if (!doomed_) return;
    fs_.deleted.push_back(node->path);
    fs_.nodes_.erase(key_);
  }
  Fallible<HandleFacts> Facts() override {
    if (Injected(fs_.faults, "IFileHandle::Facts")) return Failed(kErrorAccessDenied);
    const SimFileSystem::Node* node = Own();
    if (!node) return Failed(kErrorFileNotFound);
    HandleFacts facts;
    facts.attributes = node->attributes | (node->directory ? kFileAttributeDirectory : 0);
    if (facts.attributes == 0) facts.attributes = kFileAttributeNormal;
    facts.links = static_cast<uint32_t>(fs_.LinkCount(inode_));
    facts.identity = {fs_.final_paths ? 0 : SimFileSystem::kVolumeSerial, inode_};
    if (fs_.final_paths) facts.final_path = fs_.FinalPath(key_);
    return facts;
  }
  Status Truncate() override {
    if (Injected(fs_.faults, "IFileHandle::Truncate")) return Failed(kErrorAccessDenied);
    SimFileSystem::Node* node = Own();
    if (!node || kind_ != Kind::kWrite) return Failed(kErrorAccessDenied);
    node->bytes.clear();
    fs_.ShareBytes(key_);
    return Succeeded();
  }
  Fallible<uint32_t> WriteOnce(const void* data, uint32_t size) override {
    const bool fail = Injected(fs_.faults, "IFileHandle::WriteOnce");
    SimFileSystem::Node* node = Own();
    if (!node || kind_ != Kind::kWrite) {
      return Failed(kErrorAccessDenied);
    }
    fs_.writes[key_].push_back(size);
    const Fallible<uint32_t> outcome = fs_.WriteOutcome(key_, node->bytes.size(), size);
    if (!fail && !outcome) return outcome;
    uint32_t count = outcome.value_or(size);
    if (fail) count = size / 2;  // a short write
    node->bytes.append(static_cast<const char*>(data), count);
    fs_.ShareBytes(key_);
    return count;
  }
  // Every write of the simulation goes to the file's end already.
  Status SeekToEnd() override {
    if (Injected(fs_.faults, "IFileHandle::SeekToEnd")) return Failed(kErrorAccessDenied);
    return Own() && kind_ == Kind::kWrite ? Succeeded() : Failed(kErrorAccessDenied);
  }
  Status DeleteOnClose() override {
    if (Injected(fs_.faults, "IFileHandle::DeleteOnClose")) return Failed(kErrorAccessDenied);
    SimFileSystem::Node* node = Own();
    if (!node || kind_ == Kind::kHold || kind_ == Kind::kLook || (node->attributes & kFileAttributeReadOnly)) {
      return Failed(kErrorAccessDenied);
    }
    if (node->directory && node->link_target.empty()) {
      const std::string prefix = key_ + "\\";
      for (const auto& entry : fs_.nodes_) {
        if (entry.first.compare(0, prefix.size(), prefix) == 0) return Failed(kErrorDirNotEmpty);
      }
      if (fs_.Resolve(fs_.current_directory) == key_)
        return Failed(kErrorSharingViolation);  // in use as a current directory
    }
    doomed_ = true;
    return Succeeded();
  }
  Status ClearReadOnly(uint32_t /*attributes*/) override {
    if (Injected(fs_.faults, "IFileHandle::ClearReadOnly")) return Failed(kErrorAccessDenied);
    SimFileSystem::Node* node = Own();
    if (!node || kind_ != Kind::kEntry) return Failed(kErrorAccessDenied);
    node->attributes &= ~kFileAttributeReadOnly;
    return Succeeded();
  }

 private:
  // The node this handle is on; null when its file has gone.
  SimFileSystem::Node* Own() {
    SimFileSystem::Node* node = fs_.Find(key_);
    return node && node->inode == inode_ ? node : nullptr;
  }
  int& Count(SimFileSystem::Node& node) {
    switch (kind_) {
      case Kind::kWrite:
        return node.writers;
      case Kind::kHold:
        return node.holders;
      case Kind::kEntry:
        return node.openers;
      case Kind::kLook:
        break;
    }
    return lookers_;
  }

  SimFileSystem& fs_;
  std::string key_;
  Kind kind_;
  uint64_t inode_ = 0;
  bool doomed_ = false;
  int lookers_ = 0;  // a handle that only looks takes no share
};

class SimFind : public IFindHandle {
 public:
  SimFind(SimFileSystem& fs, std::vector<FindEntry> entries) : fs_(fs), entries_(std::move(entries)) {
    ++fs_.open_handles;
  }
  ~SimFind() override { --fs_.open_handles; }
  Fallible<FindEntry> Next() override {
    if (next_ >= entries_.size()) return Failed(kErrorNoMoreFiles);
    if (Injected(fs_.faults, "IFindHandle::Next")) return Failed(kErrorAccessDenied);
    return entries_[next_++];
  }

 private:
  SimFileSystem& fs_;
  std::vector<FindEntry> entries_;
  std::size_t next_ = 1;  // the first entry went out with FindFirst
};

SimFileSystem::SimFileSystem() {
  MakeDirectories(u"C:\\work");
  MakeDirectories(u"C:\\Users\\me\\AppData\\Local\\Temp");
  MakeDirectories(u"C:\\Users\\me\\AppData\\Roaming");
  MakeDirectories(u"C:\\ProgramData");
}

Fallible<uint32_t> SimFileSystem::WriteOutcome(const std::string& key, std::size_t held, uint32_t size) const {
  if (auto failing = write_errors.find(key); failing != write_errors.end() && held >= failing->second.from) {
    return Failed(failing->second.error);
  }
  auto limit = short_writes.find(key);
  if (limit == short_writes.end()) return size;
  const std::size_t room = held < limit->second ? limit->second - held : 0;
  return static_cast<uint32_t>(std::min<std::size_t>(size, room));
}

std::string SimFileSystem::Key(const Text& path) {
  std::string key;
  for (char16_t u : Normalized(path)) {
    if (u >= 0x100) {
      // Kept apart from every other unit: '<' cannot appear in a Windows file name.
      static const char kHex[] = "0123456789abcdef";
      key += {'<', kHex[u >> 12], kHex[(u >> 8) & 15], kHex[(u >> 4) & 15], kHex[u & 15]};
      continue;
    }
    key.push_back(LowerAscii(IsSep(u) ? '\\' : static_cast<char>(u)));
  }
  while (key.size() > 2 && key.back() == '\\') key.pop_back();
  if (key.size() == 3 && key[1] == ':') key.pop_back();
  return key;
}

std::string SimFileSystem::ResolveFile(const Text& path) const {
  std::string key = Resolve(path);
  for (int hops = 0; hops < 8; ++hops) {
    const Node* node = Find(key);
    if (!node || node->file_link_target.empty()) break;
    key = Resolve(node->file_link_target);
  }
  return key;
}

Text SimFileSystem::FinalPath(const std::string& key) const {
  Text out;
  for (std::size_t cut = key.find('\\');; cut = key.find('\\', cut + 1)) {
    const std::string part = cut == std::string::npos ? key : key.substr(0, cut);
    if (out.empty()) {
      out = Widen(part);
      if (!out.empty() && out[0] >= u'a' && out[0] <= u'z') out[0] = static_cast<char16_t>(out[0] - 32);
    } else {
      const Node* node = Find(part);
      const Text name =
          node ? node->path.substr(node->path.find_last_of(u"\\/") + 1) : Widen(part.substr(part.rfind('\\') + 1));
      out += u"\\" + name;
    }
    if (cut == std::string::npos) break;
  }
  return out;
}

int SimFileSystem::LinkCount(uint64_t inode) const {
  int count = 0;
  for (const auto& entry : nodes_) count += entry.second.inode == inode;
  return count;
}

void SimFileSystem::ShareBytes(const std::string& key) {
  const Node& source = nodes_.at(key);
  for (auto& entry : nodes_) {
    if (entry.first != key && entry.second.inode == source.inode) entry.second.bytes = source.bytes;
  }
}

std::optional<FileIdentity> SimFileSystem::IdentityOf(const Text& path) const {
  const Node* node = Find(ResolveFile(path));
  if (!node) return std::nullopt;
  return FileIdentity{final_paths ? 0 : kVolumeSerial, node->inode};
}

std::string SimFileSystem::Resolve(const Text& path) const {
  std::string key = Key(path);
  // Follow a directory link anywhere above the last component.
  for (std::size_t cut = key.find('\\'); cut != std::string::npos; cut = key.find('\\', cut + 1)) {
    const Node* node = Find(key.substr(0, cut));
    if (node && !node->link_target.empty()) {
      return Resolve(node->link_target + Widen(key.substr(cut)));
    }
  }
  return key;
}

SimFileSystem::Node* SimFileSystem::Find(const std::string& key) {
  auto it = nodes_.find(key);
  return it == nodes_.end() ? nullptr : &it->second;
}

const SimFileSystem::Node* SimFileSystem::Find(const std::string& key) const {
  auto it = nodes_.find(key);
  return it == nodes_.end() ? nullptr : &it->second;
}

bool SimFileSystem::ParentExists(const std::string& key) const {
  std::string parent = ParentKey(key);
  if (parent.size() == 2 && parent[1] == ':') return parent == "c:";
  const Node* node = Find(parent);
  return node && node->directory;
}

bool SimFileSystem::CanCreateIn(const std::string& key) const {
  return ParentExists(key) && !unwritable.count(ParentKey(key)) && !unopenable.count(key);
}

SimFileSystem::Node& SimFileSystem::Create(const std::string& key, const Text& path, bool directory) {
  Node& node = nodes_[key];
  node.path = Normalized(path);
  node.directory = directory;
  node.order = next_order_++;
  node.inode = next_inode_++;
  return node;
}

Fallible<Text> SimFileSystem::GetFullPathName(const Text& path) {
  if (Injected(faults, "IFileSystem::GetFullPathName")) return Failed(kErrorAccessDenied);
  if (path.empty()) return Failed(kErrorPathNotFound);
  Text joined;
  auto is_sep = [](char16_t c) { return c == u'\\' || c == u'/'; };
  std::size_t root_len = 0;
  if (path.size() >= 2 && is_sep(path[0]) && is_sep(path[1])) {
    joined = path;  // UNC: \\server\share\...
    std::size_t slashes = 0, i = 2;
    for (; i < joined.size() && slashes < 2; ++i) {
      if (is_sep(joined[i])) ++slashes;
    }
    root_len = slashes < 2 ? joined.size() : i - 1;
  } else if (path.size() >= 2 && path[1] == u':') {
    if (path.size() >= 3 && is_sep(path[2])) {
      joined = path;
    } else {
      // "D:" and "D:name" are relative to that drive's own current directory.
      char16_t drive = path[0] >= u'a' && path[0] <= u'z' ? static_cast<char16_t>(path[0] - 32) : path[0];
      char16_t current = current_directory.empty() ? 0 : current_directory[0];
      if (current >= u'a' && current <= u'z') current = static_cast<char16_t>(current - 32);
      auto other = drive_directories.find(drive);
      Text directory = drive == current                   ? current_directory
                       : other != drive_directories.end() ? other->second
                                                          : Text(1, drive) + u":\\";
      joined = directory + u"\\" + path.substr(2);
    }
    root_len = 2;
  } else if (is_sep(path[0])) {
    joined = current_directory.substr(0, 2) + path;
    root_len = 2;
  } else {
    joined = current_directory + u"\\" + path;
    root_len = 2;
  }
  // Normalise the components after the root: "." goes, ".." removes one.
  Text root = joined.substr(0, root_len);
  std::vector<Text> parts;
  Text part;
  for (std::size_t i = root_len; i <= joined.size(); ++i) {
    if (i == joined.size() || is_sep(joined[i])) {
      if (part == u"..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!part.empty() && part != u".") {
        parts.push_back(part);
      }
      part.clear();
    } else {
      part.push_back(joined[i]);
    }
  }
  Text out = root;
  for (const Text& p : parts) out += u"\\" + p;
  if (parts.empty() || is_sep(path.back())) out += u"\\";
  return out;
}

Fallible<Text> SimFileSystem::GetFolderPath(int csidl) {
  if (Injected(faults, "IEnvironment::GetFolderPath")) return Failed(kErrorAccessDenied);
  auto it = folders.find(csidl);
  if (it == folders.end()) return Failed(kErrorFileNotFound);
  return it->second;
}

Fallible<Text> SimFileSystem::GetEnvironmentVariable(const Text& name) {
  if (Injected(faults, "IEnvironment::GetEnvironmentVariable")) return Failed(kErrorAccessDenied);
  auto it = environment.find(name);
  if (it == environment.end()) return Failed(kErrorEnvvarNotFound);
  return it->second;
}

std::string SimFileSystem::Contents(const std::string& path) const { return Contents(Widen(path)); }

std::string SimFileSystem::Contents(const Text& path) const {
  const Node* node = Find(ResolveFile(path));
  return node ? node->bytes : std::string();
}

bool SimFileSystem::Exists(const std::string& path) const { return Exists(Widen(path)); }

bool SimFileSystem::Exists(const Text& path) const { return Find(Resolve(path)) != nullptr; }

bool SimFileSystem::IsDirectory(const Text& path) const {
  const Node* node = Find(Resolve(path));
  return node && node->directory;
}

void SimFileSystem::Put(const std::string& path, const std::string& bytes) { Put(Widen(path), bytes); }

void SimFileSystem::Put(const Text& path, const std::string& bytes, uint32_t attributes) {
  std::string key = Resolve(path);
  MakeDirectories(Widen(ParentKey(key)));
  Node& node = Find(key) ? *Find(key) : Create(key, path, false);
  node.bytes = bytes;
  node.attributes = attributes;
}

void SimFileSystem::MakeDirectories(const Text& path) { (void)CreateDirectoryTree(path); }  // there already is fine

void SimFileSystem::MakeLink(const Text& link, const Text& target) {
  std::string key = Resolve(link);
  Node& node = Create(key, link, true);
  node.attributes = kFileAttributeDirectory | kFileAttributeReparsePoint;
  node.link_target = target;
}

void SimFileSystem::MakeHardLink(const Text& link, const Text& existing) {
  const Node copy = nodes_.at(Resolve(existing));
  Node& node = Create(Resolve(link), link, false);
  node.bytes = copy.bytes;
  node.attributes = copy.attributes;
  node.inode = copy.inode;
}

void SimFileSystem::MakeFileLink(const Text& link, const Text& target) {
  Create(Resolve(link), link, false).file_link_target = target;
}

bool SimFileSystem::Move(const Text& from, const Text& to) {
  const std::string key = Resolve(from), target = Resolve(to);
  if (!Find(key) || Find(target)) return false;
  std::vector<std::string> moving;
  for (const auto& [k, node] : nodes_) {
    if (k != key && k.rfind(key + "\\", 0) != 0) continue;
    if (node.writers + node.holders + node.openers > 0) return false;
    moving.push_back(k);
  }
  const Text new_path = Normalized(to);
  for (const std::string& k : moving) {
    auto entry = nodes_.extract(k);
    entry.key() = target + k.substr(key.size());
    entry.mapped().path = new_path + entry.mapped().path.substr(Normalized(from).size());
    nodes_.insert(std::move(entry));
  }
  return true;
}

std::vector<std::string> SimFileSystem::List(const Text& folder) const {
  std::string prefix = Resolve(folder) + "\\";
  std::vector<std::string> out;
  for (const auto& [key, node] : nodes_) {
    if (key.compare(0, prefix.size(), prefix) == 0)
      out.push_back(key.substr(prefix.size()) + (node.directory ? "\\" : ""));
  }
  return out;
}

Status SimFileSystem::CreateDirectory(const Text& path) {
  if (Injected(faults, "IFileSystem::CreateDirectory")) return Failed(kErrorAccessDenied);
  std::string key = Resolve(path);
  if (Find(key)) return Failed(kErrorAlreadyExists);
  if (!CanCreateIn(key)) return Failed(ParentExists(key) ? kErrorAccessDenied : kErrorPathNotFound);
  Create(key, path, true).attributes = kFileAttributeDirectory;
  return Succeeded();
}

Status SimFileSystem::CreateDirectoryTree(const Text& path) {
  if (Injected(faults, "IFileSystem::CreateDirectoryTree")) return Failed(kErrorAccessDenied);
  std::string key = Resolve(path);
  if (Find(key)) return Failed(kErrorAlreadyExists);
  if (key.size() < 2 || key[1] != ':' || key.substr(0, 2) != "c:") return Failed(kErrorPathNotFound);
  for (std::size_t cut = key.find('\\');; cut = key.find('\\', cut + 1)) {
    std::string part = cut == std::string::npos ? key : key.substr(0, cut);
    if (!Find(part)) {
      if (unwritable.count(ParentKey(part))) return Failed(kErrorAccessDenied);
      Create(part, Widen(part), true).attributes = kFileAttributeDirectory;
    } else if (!Find(part)->directory) {
      return Failed(kErrorPathNotFound);
    }
    if (cut == std::string::npos) break;
  }
  return Succeeded();
}

Status SimFileSystem::CreateProbeFile(const Text& path) {
  if (Injected(faults, "IFileSystem::CreateProbeFile")) return Failed(kErrorAccessDenied);
  std::string key = Resolve(path);
  const Node* node = Find(key);
  if ((node && node->directory) || !CanCreateIn(key))
    return Failed(ParentExists(key) ? kErrorAccessDenied : kErrorPathNotFound);
  ++probes;
  return Succeeded();  // delete-on-close: nothing stays behind
}

Fallible<OpenedForWriting> SimFileSystem::OpenForWriting(const Text& path) {
  if (Injected(faults, "IFileSystem::OpenForWriting")) return Failed(kErrorAccessDenied);
  std::string key = ResolveFile(path);
  Node* node = Find(key);
  if (!node && Find(Resolve(path)))
    return Failed(kErrorFileNotFound);  // a link to nothing: no new file at its name, and no existing one to open
  if (node && (node->directory || (node->attributes & kFileAttributeReadOnly) || unopenable.count(key)))
    return Failed(kErrorAccessDenied);
  if (node && node->writers + node->holders + node->openers > 0) return Failed(kErrorSharingViolation);
  if (!node) {
    if (!CanCreateIn(key)) {
      return Failed(ParentExists(key) ? kErrorAccessDenied : kErrorPathNotFound);
    }
    Create(key, path, false);
  }
  return OpenedForWriting{std::make_unique<SimFileHandle>(*this, key, SimFileHandle::Kind::kWrite), !node};
}

Fallible<std::unique_ptr<IFileHandle>> SimFileSystem::OpenForHolding(const Text& path) {
  if (Injected(faults, "IFileSystem::OpenForHolding")) return Failed(kErrorAccessDenied);
  std::string key = ResolveFile(path);
  Node* node = Find(key);
  if (!node || node->directory) return Failed(node ? kErrorAccessDenied : kErrorFileNotFound);
  if (node->writers + node->openers > 0) return Failed(kErrorSharingViolation);
  return std::unique_ptr<IFileHandle>(std::make_unique<SimFileHandle>(*this, key, SimFileHandle::Kind::kHold));
}

Fallible<std::unique_ptr<IFileHandle>> SimFileSystem::OpenEntry(const Text& path, bool deletion) {
  if (Injected(faults, "IFileSystem::OpenEntry")) return Failed(kErrorAccessDenied);
  std::string key = ResolveFile(path);
  Node* node = Find(key);
  if (!node) return Failed(kErrorFileNotFound);  // ERROR_FILE_NOT_FOUND
  // Reading attributes alone takes no share of the file; deleting does.
  if (!deletion)
    return std::unique_ptr<IFileHandle>(std::make_unique<SimFileHandle>(*this, key, SimFileHandle::Kind::kLook));
  if (node->writers + node->holders > 0) return Failed(kErrorSharingViolation);
  return std::unique_ptr<IFileHandle>(std::make_unique<SimFileHandle>(*this, key, SimFileHandle::Kind::kEntry));
}

Fallible<std::unique_ptr<IReadFile>> SimFileSystem::OpenRead(const Text& path) {
  if (Injected(faults, "IFileSystem::OpenRead")) return Failed(kErrorAccessDenied);
  const Node* node = Find(ResolveFile(path));
  if (!node || node->directory || unopenable.count(ResolveFile(path)))
    return Failed(kErrorFileNotFound);  // ERROR_FILE_NOT_FOUND
  if (node->writers + node->openers > 0) return Failed(kErrorSharingViolation);
  return std::unique_ptr<IReadFile>(std::make_unique<SimReadFile>(*this, node->bytes));
}

Status SimFileSystem::DeleteFile(const Text& path) {
  if (Injected(faults, "IFileSystem::DeleteFile")) return Failed(kErrorAccessDenied);
  // As under Wine: a link to a file is deleted as its target.
  std::string key = ResolveFile(path);
  Node* node = Find(key);
  if (!node) return Failed(kErrorFileNotFound);
  if (node->writers + node->holders > 0) return Failed(kErrorSharingViolation);
  if (node->directory || (node->attributes & kFileAttributeReadOnly)) return Failed(kErrorAccessDenied);
  nodes_.erase(key);
  deleted.push_back(path);
  return Succeeded();
}

Status SimFileSystem::DeleteAtRestart(const Text& path) {
  if (Injected(faults, "IFileSystem::DeleteAtRestart") || !elevated) return Failed(kErrorAccessDenied);
  if (!Find(Resolve(path))) return Failed(kErrorFileNotFound);
  at_restart.push_back(path);
  return Succeeded();
}

Status SimFileSystem::RemoveDirectory(const Text& path) {
  if (Injected(faults, "IFileSystem::RemoveDirectory")) return Failed(kErrorAccessDenied);
  // A link is removed by its own name, never resolved through.
  std::string own = Key(path);
  std::string parent = Resolve(Widen(ParentKey(own)));
  std::string key = parent + own.substr(ParentKey(own).size());
  Node* node = Find(key);
  if (!node) return Failed(kErrorFileNotFound);
  if (!node->directory) return Failed(kErrorDirectoryName);
  if (node->link_target.empty()) {
    std::string prefix = key + "\\";
    for (const auto& entry : nodes_) {
      if (entry.first.compare(0, prefix.size(), prefix) == 0) return Failed(kErrorDirNotEmpty);
    }
    if (Resolve(current_directory) == key) return Failed(kErrorSharingViolation);  // in use as current directory
  }
  nodes_.erase(key);
  deleted.push_back(path);
  return Succeeded();
}

Status SimFileSystem::SetCurrentDirectory(const Text& path) {
  if (Injected(faults, "IFileSystem::SetCurrentDirectory")) return Failed(kErrorAccessDenied);
  if (path == u"\\") {
    current_directory = current_directory.substr(0, 2) + u"\\";
    return Succeeded();
  }
  if (!IsDirectory(path)) return Failed(Exists(path) ? kErrorDirectoryName : kErrorFileNotFound);
  current_directory = path;
  return Succeeded();
}

Fallible<FirstFound> SimFileSystem::FindFirst(const Text& pattern) {
  if (Injected(faults, "IFileSystem::FindFirst")) return Failed(kErrorAccessDenied);
  std::size_t cut = pattern.find_last_of(u"\\/");
  if (cut == Text::npos || pattern.substr(cut + 1) != u"*.*") return Failed(kErrorInvalidParameter);
  std::string folder = Resolve(pattern.substr(0, cut));
  const Node* dir = Find(folder);
  if (!dir || !dir->directory) return Failed(kErrorPathNotFound);
  std::vector<FindEntry> entries = {{u".", kFileAttributeDirectory}, {u"..", kFileAttributeDirectory}};
  std::string prefix = folder + "\\";
  for (const auto& [key, node] : nodes_) {
    if (key.compare(0, prefix.size(), prefix) != 0 || key.find('\\', prefix.size()) != std::string::npos) continue;
    Text name = node.path.substr(node.path.find_last_of(u"\\/") + 1);
    const Node* shown = node.file_link_target.empty() ? &node : Find(ResolveFile(node.path));
    if (!shown) continue;  // a link to nothing is not listed
    entries.push_back({name, shown->attributes | (shown->directory ? kFileAttributeDirectory : 0)});
  }
  FindEntry first = entries.front();
  return FirstFound{std::make_unique<SimFind>(*this, std::move(entries)), first};
}

Status SimFileSystem::SetFolderAccess(const Text& path, uint32_t mask) {
  if (Injected(faults, "ISecurity::SetFolderAccess")) return Failed(kErrorAccessDenied);
  access_granted.emplace_back(path, mask);
  return Succeeded();
}

Fallible<uint32_t> SimFileSystem::GetFileAttributes(const Text& path) {
  if (Injected(faults, "IFileSystem::GetFileAttributes")) return Failed(kErrorAccessDenied);
  // Resolve follows links above the last component only: a directory link is reported
  // as itself, a link to a file as its target.
  std::string key = ResolveFile(path);
  if (key.size() == 2 && key[1] == ':') {
    if (key == "c:") return kFileAttributeDirectory;  // the one drive's root
    return Failed(kErrorPathNotFound);
  }
  const Node* node = Find(key);
  if (!node) return Failed(kErrorFileNotFound);
  uint32_t attributes = node->attributes | (node->directory ? kFileAttributeDirectory : 0);
  return attributes ? attributes : kFileAttributeNormal;
}

}  // namespace carryall::sim
