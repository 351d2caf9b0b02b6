#pragma once
// Test helper for the library's self-registration: every key below HKEY_CLASSES_ROOT of
// the registry in use. Header only; for tests.
#include <set>
#include <string>
#include <vector>

#include "platform/Registry.h"

namespace fp::test {

// The paths of all keys below Path (not Path itself), "\" between the names.
inline void CollectClassesRootKeys(const std::string& Path, std::set<std::string>& Out) {
  auto k = TRegistry::OpenKey(HKEY_CLASSES_ROOT, Path);
  if (!k) return;
  for (const std::string& sub : TRegistry::SubKeys(*k).value_or(std::vector<std::string>{})) {
    const std::string child = Path.empty() ? sub : Path + "\\" + sub;
    Out.insert(child);
    CollectClassesRootKeys(child, Out);
  }
}

inline std::set<std::string> AllClassesRootKeys() {
  std::set<std::string> keys;
  CollectClassesRootKeys("", keys);
  return keys;
}

}  // namespace fp::test
