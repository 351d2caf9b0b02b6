#include "platform/Registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pwd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/ComPortNames.h"
#include "platform/FileOps.h"
#include "platform/TextLines.h"

// File format (text, one item a line; anything else, blank lines and "#" comments are
// skipped):
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Key]   a key (its parents exist implicitly)
//   "name"="data"                       a value of the key above
//   @="data"                            the key's default value
// In key lines and in quoted texts every byte outside 0x20..0x7E and the bytes '%', '"'
// and ']' are written as %HH (two upper-case hexadecimal digits), so any value bytes
// survive and the file stays plain ASCII.

namespace fp {

namespace {

constexpr const char* kRootNames[] = {"HKEY_CLASSES_ROOT", "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"};
constexpr const char* kSerialCommPath = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr const char* kVirtualKeys[] = {"HARDWARE", "HARDWARE\\DEVICEMAP", kSerialCommPath};

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

// "\\A\\\\B\\" -> "A\\B".
std::string NormalisePath(std::string_view path) {
  std::string out;
  std::size_t i = 0;
  while (i < path.size()) {
    std::size_t j = path.find('\\', i);
    if (j == std::string_view::npos) j = path.size();
    if (j > i) {
      if (!out.empty()) out += '\\';
      out.append(path.substr(i, j - i));
    }
    i = j + 1;
  }
  return out;
}

// Key path `b` below key path `a`, both normalised ("A\\", "\\B" -> "A\\B"). Unlike a file
// path, a key path has no root of its own and no empty parts.
std::string JoinKeyPath(std::string_view a, std::string_view b) {
  std::string out = NormalisePath(a);
  std::string nb = NormalisePath(b);
  if (!out.empty() && !nb.empty()) out += '\\';
  out += nb;
  return out;
}

std::string ParentPath(std::string_view path) {
  std::size_t pos = path.rfind('\\');
  return pos == std::string_view::npos ? std::string() : std::string(path.substr(0, pos));
}

std::string FullName(TRegRoot root, std::string_view path) {
  std::string out(RegRootName(root));
  if (!path.empty()) {
    out += '\\';
    out.append(path);
  }
  return out;
}

std::string Escape(std::string_view s) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x20 || c > 0x7E || c == '%' || c == '"' || c == ']') {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += char(c);
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<std::string> Unescape(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    if (i + 2 >= s.size()) return std::nullopt;
    int h = HexDigit(s[i + 1]), l = HexDigit(s[i + 2]);
    if (h < 0 || l < 0) return std::nullopt;
    out += char(h * 16 + l);
    i += 2;
  }
  return out;
}

struct TKeyNode {
  TRegRoot Root = TRegRoot::LocalMachine;
  std::string Path;  // below the root, in the case it was created with
  std::vector<TRegValue> Values;
  bool Virtual = false;

  TRegValue* FindValue(std::string_view name) {
    for (auto& v : Values)
      if (EqualNoCase(v.Name, name)) return &v;
    return nullptr;
  }
};

bool IsSerialComm(const TRegKey& key) {
  return key.Root == TRegRoot::LocalMachine && EqualNoCase(key.Path, kSerialCommPath);
}

// The whole registry as read from the file, keyed by the lower-case full name.
class TTree {
 public:
  TTree() {
    for (TRegRoot root : {TRegRoot::ClassesRoot, TRegRoot::LocalMachine, TRegRoot::CurrentUser}) Ensure(root, "");
    for (const char* path : kVirtualKeys) Ensure(TRegRoot::LocalMachine, path)->Virtual = true;
  }

  TKeyNode* Find(TRegRoot root, std::string_view path) {
    auto it = FKeys.find(Lower(FullName(root, path)));
    return it == FKeys.end() ? nullptr : &it->second;
  }

  // Creates the key and its missing parents; returns it.
  TKeyNode* Ensure(TRegRoot root, std::string_view path) {
    if (TKeyNode* node = Find(root, path)) return node;
    if (!path.empty()) Ensure(root, ParentPath(path));
    TKeyNode& node = FKeys[Lower(FullName(root, path))];
    node.Root = root;
    node.Path = std::string(path);
    return &node;
  }

  // Names of the direct sub-keys, in alphabetical order ignoring case.
  std::vector<std::string> Children(TRegRoot root, std::string_view path) {
    std::string prefix = Lower(FullName(root, path)) + '\\';
    std::vector<std::string> out;
    for (auto it = FKeys.lower_bound(prefix); it != FKeys.end(); ++it) {
      if (it->first.compare(0, prefix.size(), prefix) != 0) break;
      std::string_view rest = std::string_view(it->first).substr(prefix.size());
      if (rest.find('\\') != std::string_view::npos) continue;
      const std::string& p = it->second.Path;
      out.push_back(p.substr(p.rfind('\\') + 1));
    }
    return out;
  }

  void Erase(TRegRoot root, std::string_view path) { FKeys.erase(Lower(FullName(root, path))); }

  bool Parse(const std::string& text) {
    TKeyNode* current = nullptr;
    for (const std::string& textLine : SplitLines(text)) {
      std::string_view line = textLine;
      if (line.empty() || line[0] == '#') continue;
      if (line[0] == '[' && line.back() == ']') {
        current = nullptr;
        auto full = Unescape(line.substr(1, line.size() - 2));
        if (!full) continue;
        std::string_view f = *full;
        std::size_t sep = f.find('\\');
        std::string_view rootName = f.substr(0, sep);
        for (int r = 0; r < 3; ++r)
          if (EqualNoCase(rootName, kRootNames[r]))
            current = Ensure(TRegRoot(r), NormalisePath(sep == std::string_view::npos ? "" : f.substr(sep + 1)));
        continue;
      }
      if (!current) continue;
      std::optional<std::string> name;
      std::string_view rest;
      if (line.substr(0, 2) == "@=") {
        name = std::string();
        rest = line.substr(2);
      } else if (line[0] == '"') {
        std::size_t close = line.find('"', 1);
        if (close == std::string_view::npos || line.substr(close + 1, 1) != "=") continue;
        name = Unescape(line.substr(1, close - 1));
        rest = line.substr(close + 2);
      }
      if (!name || rest.size() < 2 || rest.front() != '"' || rest.back() != '"') continue;
      auto data = Unescape(rest.substr(1, rest.size() - 2));
      if (!data) continue;
      if (TRegValue* v = current->FindValue(*name))
        v->Data = *data;
      else
        current->Values.push_back({*name, *data});
    }
    return true;
  }

  std::string Format() const {
    std::string out = "# Registry of the fiscal printer driver. Written by the driver; keep the format.\n";
    for (const auto& [id, node] : FKeys) {
      if (node.Virtual) continue;
      if (node.Path.empty() && node.Values.empty()) continue;
      out += '[' + Escape(FullName(node.Root, node.Path)) + "]\n";
      for (const auto& v : node.Values) {
        if (v.Name.empty())
          out += "@=";
        else
          out += '"' + Escape(v.Name) + "\"=";
        out += '"' + Escape(v.Data) + "\"\n";
      }
    }
    return out;
  }

 private:
  std::map<std::string, TKeyNode> FKeys;
};

std::mutex gHomeMutex;
TRegistry::THomeFolderSource gHomeSource;
std::atomic<bool> gNoFileReported{false};

// The home folder of the account the process runs as.
std::optional<std::string> AccountHomeFolder() {
  std::vector<char> buf(16384);
  passwd pw;
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) != 0 || !found || !found->pw_dir)
    return std::nullopt;
  return std::string(found->pw_dir);
}

bool IsAbsolute(const char* path) { return path && path[0] == '/'; }

// The registry file, or nothing (said once on stderr) when it has no place.
std::optional<std::string> CurrentFile() {
  std::optional<std::string> file = TRegistry::FileName();
  if (!file && !gNoFileReported.exchange(true)) std::fprintf(stderr, "%s\n", TRegistry::NoFileText);
  return file;
}

// Reads the file; a missing file is an empty registry.
std::optional<TTree> Load(const std::string& file) {
  TTree tree;
  IFileOps& ops = FileOps();
  int fd = ops.Open(file.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) {
    if (errno == ENOENT) return tree;
    return std::nullopt;
  }
  std::string text;
  const bool read = ReadAll(ops, fd, text);
  ops.Close(fd);
  if (!read) return std::nullopt;
  tree.Parse(text);
  return tree;
}

std::optional<TTree> LoadCurrent() {
  auto file = CurrentFile();
  if (!file) return std::nullopt;
  return Load(*file);
}

enum class TChange { Failed, Unchanged, Changed };

// Creates the folders of path's parent that are missing.
bool MakeParents(IFileOps& ops, const std::string& path) {
  for (std::size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1)) {
    std::string dir = path.substr(0, pos);
    struct stat st;
    if (ops.Stat(dir.c_str(), &st) == 0) continue;
    if (ops.Mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// Lock, re-read, change, write atomically (temporary file, fsync, rename), unlock. The
// new file keeps the mode of the old one. Neither the lock file nor the temporary file is
// opened through a symbolic link, and the rename replaces a link rather than its target.
template <class F>
bool Modify(F&& change) {
  IFileOps& ops = FileOps();
  const std::optional<std::string> current = CurrentFile();
  if (!current) return false;
  const std::string& file = *current;
  if (!MakeParents(ops, file)) return false;
  int lockFd = ops.Open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (lockFd < 0) return false;
  while (::flock(lockFd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ops.Close(lockFd);
      return false;
    }
  }
  bool ok = false;
  if (std::optional<TTree> tree = Load(file)) {
    TChange result = change(*tree);
    if (result == TChange::Unchanged) {
      ok = true;
    } else if (result == TChange::Changed) {
      // The name is this process's own and the lock keeps its threads apart, so anything
      // found under it is left over from a process of the same number: it goes first.
      const std::string temp = file + ".tmp." + std::to_string(::getpid());
      ops.Unlink(temp.c_str());
      struct stat old {};
      const bool existed = ops.Stat(file.c_str(), &old) == 0;
      int fd = ops.Open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
      if (fd >= 0) {
        bool written = (!existed || ::fchmod(fd, old.st_mode & 07777) == 0) && WriteAll(ops, fd, tree->Format()) &&
                       ops.Fsync(fd) == 0;
        written = (ops.Close(fd) == 0) && written;
        if (written && ops.Rename(temp.c_str(), file.c_str()) == 0)
          ok = true;
        else
          ops.Unlink(temp.c_str());
      }
    }
  }
  ::flock(lockFd, LOCK_UN);
  ops.Close(lockFd);
  return ok;
}

std::optional<std::vector<TRegValue>> SerialCommValues() {
  std::vector<TRegValue> out;
  for (const TComPortName& port : TComPortNames::PresentPorts()) {
    bool seen = false;
    for (const auto& v : out) seen = seen || EqualNoCase(v.Name, port.Path);
    if (!seen) out.push_back({port.Path, port.Name});
  }
  return out;
}

bool IsVirtualPath(TRegRoot root, std::string_view path) {
  if (root != TRegRoot::LocalMachine) return false;
  for (const char* p : kVirtualKeys)
    if (EqualNoCase(path, p)) return true;
  return false;
}

}  // namespace

std::string_view RegRootName(TRegRoot root) { return kRootNames[int(root)]; }

std::optional<std::string> TRegistry::FileName() {
  if (const char* env = std::getenv(FileVariable); env && *env) return std::string(env);
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); IsAbsolute(xdg)) {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); IsAbsolute(home)) {
    base = std::string(home) + "/.config";
  } else {
    THomeFolderSource source;
    {
      std::lock_guard lock(gHomeMutex);
      source = gHomeSource;
    }
    std::optional<std::string> account = source ? source() : AccountHomeFolder();
    if (!account || !IsAbsolute(account->c_str())) return std::nullopt;
    base = *account + "/.config";
  }
  return base + "/miravok-fp/registry.txt";
}

void TRegistry::SetHomeFolderSource(THomeFolderSource source) {
  std::lock_guard lock(gHomeMutex);
  gHomeSource = std::move(source);
}

std::optional<TRegKey> TRegistry::OpenKey(TRegRoot root, std::string_view subKey) {
  return OpenKey(TRegKey{root, ""}, subKey);
}

std::optional<TRegKey> TRegistry::CreateKey(TRegRoot root, std::string_view subKey) {
  return CreateKey(TRegKey{root, ""}, subKey);
}

std::optional<TRegKey> TRegistry::OpenKey(const TRegKey& key, std::string_view subKey) {
  TRegKey result{key.Root, JoinKeyPath(key.Path, subKey)};
  auto tree = LoadCurrent();
  if (!tree || !tree->Find(result.Root, result.Path)) return std::nullopt;
  return result;
}

std::optional<TRegKey> TRegistry::CreateKey(const TRegKey& key, std::string_view subKey) {
  TRegKey result{key.Root, JoinKeyPath(key.Path, subKey)};
  bool ok = Modify([&](TTree& tree) {
    if (tree.Find(result.Root, result.Path)) return TChange::Unchanged;
    // Nothing can be created inside the live port list.
    for (std::string p = result.Path; !p.empty(); p = ParentPath(p))
      if (IsSerialComm(TRegKey{result.Root, p})) return TChange::Failed;
    tree.Ensure(result.Root, result.Path);
    return TChange::Changed;
  });
  if (!ok) return std::nullopt;
  return result;
}

bool TRegistry::SetValue(const TRegKey& key, std::string_view name, std::string_view data) {
  TRegKey k{key.Root, NormalisePath(key.Path)};
  if (IsVirtualPath(k.Root, k.Path)) return false;
  return Modify([&](TTree& tree) {
    TKeyNode* node = tree.Find(k.Root, k.Path);
    if (!node) return TChange::Failed;
    if (TRegValue* v = node->FindValue(name)) {
      if (v->Data == data) return TChange::Unchanged;
      v->Data = std::string(data);
    } else {
      node->Values.push_back({std::string(name), std::string(data)});
    }
    return TChange::Changed;
  });
}

std::optional<std::vector<TRegValue>> TRegistry::Values(const TRegKey& key) {
  TRegKey k{key.Root, NormalisePath(key.Path)};
  if (IsSerialComm(k)) return SerialCommValues();
  auto tree = LoadCurrent();
  if (!tree) return std::nullopt;
  TKeyNode* node = tree->Find(k.Root, k.Path);
  if (!node) return std::nullopt;
  return node->Values;
}

std::optional<std::vector<std::string>> TRegistry::SubKeys(const TRegKey& key) {
  TRegKey k{key.Root, NormalisePath(key.Path)};
  auto tree = LoadCurrent();
  if (!tree || !tree->Find(k.Root, k.Path)) return std::nullopt;
  return tree->Children(k.Root, k.Path);
}

std::optional<std::string> TRegistry::QueryValue(const TRegKey& key, std::string_view name) {
  auto values = Values(key);
  if (!values) return std::nullopt;
  for (const auto& v : *values)
    if (EqualNoCase(v.Name, name)) return v.Data;
  return std::nullopt;
}

std::optional<TRegValue> TRegistry::EnumValue(const TRegKey& key, std::size_t index) {
  auto values = Values(key);
  if (!values || index >= values->size()) return std::nullopt;
  return (*values)[index];
}

std::optional<std::string> TRegistry::EnumKey(const TRegKey& key, std::size_t index) {
  auto keys = SubKeys(key);
  if (!keys || index >= keys->size()) return std::nullopt;
  return (*keys)[index];
}

bool TRegistry::DeleteKey(TRegRoot root, std::string_view subKey) { return DeleteKey(TRegKey{root, ""}, subKey); }

bool TRegistry::DeleteKey(const TRegKey& key, std::string_view subKey) {
  TRegKey k{key.Root, JoinKeyPath(key.Path, subKey)};
  if (k.Path.empty() || IsVirtualPath(k.Root, k.Path)) return false;
  return Modify([&](TTree& tree) {
    if (!tree.Find(k.Root, k.Path) || !tree.Children(k.Root, k.Path).empty()) return TChange::Failed;
    tree.Erase(k.Root, k.Path);
    return TChange::Changed;
  });
}

bool TRegistry::UpdateValues(TRegRoot root, std::string_view subKey,
                             const std::function<bool(std::vector<TRegValue>& values)>& change) {
  const std::string path = NormalisePath(subKey);
  if (IsVirtualPath(root, path)) return false;
  for (std::string p = path; !p.empty(); p = ParentPath(p))
    if (IsSerialComm(TRegKey{root, p})) return false;
  return Modify([&](TTree& tree) {
    TKeyNode* node = tree.Ensure(root, path);
    return change(node->Values) ? TChange::Changed : TChange::Failed;
  });
}

bool TRegistry::DeleteValue(const TRegKey& key, std::string_view name) {
  TRegKey k{key.Root, NormalisePath(key.Path)};
  if (IsVirtualPath(k.Root, k.Path)) return false;
  return Modify([&](TTree& tree) {
    TKeyNode* node = tree.Find(k.Root, k.Path);
    if (!node) return TChange::Failed;
    for (auto it = node->Values.begin(); it != node->Values.end(); ++it) {
      if (EqualNoCase(it->Name, name)) {
        node->Values.erase(it);
        return TChange::Changed;
      }
    }
    return TChange::Failed;
  });
}

}  // namespace fp
