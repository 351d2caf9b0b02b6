#pragma once
// The registry: a file-backed tree of keys holding string values under three roots
// (HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER). Component registration,
// the component runtime, the COM port mappings and the settings window's port list keep
// their data here.
//
// The file is "$FP_REGISTRY_FILE" when that variable is set, otherwise
// "$XDG_CONFIG_HOME/miravok-fp/registry.txt", otherwise "$HOME/.config/miravok-fp/
// registry.txt", where HOME falls back to the home folder of the user's account. Only
// absolute folders count. The file names the component libraries that get loaded, so it
// never goes to a shared place such as /tmp: without any of these every operation fails
// and the reason (NoFileText) is written to stderr once.
// Every write takes an exclusive flock on "<file>.lock", re-reads the file, changes it and
// replaces it atomically (temporary file, fsync, rename), so concurrent writers in several
// processes or threads never lose each other's changes. Every read re-reads the file; there
// is no cache. All file operations go through FileOps() (platform/FileOps.h), so tests
// make writes fail with a TFaultyFileOps.
//
// Key paths are relative to a root, with "\" between the names ("SOFTWARE\Foo\Bar"; leading,
// trailing and doubled separators are ignored). Key and value names compare without regard
// to ASCII case and keep the case they were created with. Sub-keys enumerate in
// alphabetical order (ignoring case), values in the order they were first set. The default
// value of a key has the empty name.
//
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM is not stored: it lists the serial ports
// present now (value name: the device path, data: "COMn"), read live from the port naming
// module. It and its parents always exist and refuse every change.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fp {

enum class TRegRoot { ClassesRoot, LocalMachine, CurrentUser };

inline constexpr TRegRoot HKEY_CLASSES_ROOT = TRegRoot::ClassesRoot;
inline constexpr TRegRoot HKEY_LOCAL_MACHINE = TRegRoot::LocalMachine;
inline constexpr TRegRoot HKEY_CURRENT_USER = TRegRoot::CurrentUser;

// "HKEY_CLASSES_ROOT", "HKEY_LOCAL_MACHINE" or "HKEY_CURRENT_USER".
std::string_view RegRootName(TRegRoot root);

// An opened key: its root and its path below the root, normalised (single "\" separators,
// the case of the caller). It stays valid text after the key is deleted; operations on a
// deleted key then fail.
struct TRegKey {
  TRegRoot Root = TRegRoot::LocalMachine;
  std::string Path;
};

struct TRegValue {
  std::string Name;
  std::string Data;
  bool operator==(const TRegValue&) const = default;
};

class TRegistry {
 public:
  // The environment variable that names the registry file.
  static constexpr const char* FileVariable = "FP_REGISTRY_FILE";

  // Why the registry cannot be used when FileName() finds no place for the file.
  static constexpr const char* NoFileText =
      "No place for the registry file: FP_REGISTRY_FILE, XDG_CONFIG_HOME and HOME are not set "
      "(or not absolute paths) and the user account has no home folder";

  // The registry file in use now (the variables are read at every call); nothing when
  // there is no place for it.
  static std::optional<std::string> FileName();

  // The user's home folder when HOME is not set; the default reads the account database.
  // Replaceable for tests; an empty function restores the default.
  using THomeFolderSource = std::function<std::optional<std::string>()>;
  static void SetHomeFolderSource(THomeFolderSource source);

  // The key when it exists; an empty path opens the root itself.
  static std::optional<TRegKey> OpenKey(TRegRoot root, std::string_view subKey);
  // Opens the key, creating it and every missing parent first.
  static std::optional<TRegKey> CreateKey(TRegRoot root, std::string_view subKey);
  // A sub-key of an opened key (subKey relative to key).
  static std::optional<TRegKey> OpenKey(const TRegKey& key, std::string_view subKey);
  static std::optional<TRegKey> CreateKey(const TRegKey& key, std::string_view subKey);

  // Sets (adds or replaces) a value of an existing key. Any bytes are allowed in the name
  // and the data. False when the key does not exist or the file cannot be written.
  static bool SetValue(const TRegKey& key, std::string_view name, std::string_view data);
  // The value's data; nothing when the key or the value does not exist.
  static std::optional<std::string> QueryValue(const TRegKey& key, std::string_view name);
  // Value number index (0, 1, ...); nothing past the last value or when the key is missing.
  static std::optional<TRegValue> EnumValue(const TRegKey& key, std::size_t index);
  // Name of sub-key number index; nothing past the last sub-key or when the key is missing.
  static std::optional<std::string> EnumKey(const TRegKey& key, std::size_t index);
  // All values / all sub-key names at once (one read of the file); nothing when missing.
  static std::optional<std::vector<TRegValue>> Values(const TRegKey& key);
  static std::optional<std::vector<std::string>> SubKeys(const TRegKey& key);

  // Deletes the key subKey below key (or root). Fails when it is missing, still has
  // sub-keys, is a root, or the file cannot be written; its values go with it.
  static bool DeleteKey(TRegRoot root, std::string_view subKey);
  static bool DeleteKey(const TRegKey& key, std::string_view subKey);
  // Deletes a value; fails when the key or the value is missing.
  static bool DeleteValue(const TRegKey& key, std::string_view name);

  // Reads and changes the values of a key in one step, with no other writer in between:
  // creates the key when it is missing, hands its values to change, and writes them back
  // when change returns true. False when the key cannot be created, change returns false
  // or the file cannot be written. For the live port list always false.
  static bool UpdateValues(TRegRoot root, std::string_view subKey,
                           const std::function<bool(std::vector<TRegValue>& values)>& change);
};

}  // namespace fp
