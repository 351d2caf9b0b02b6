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
  auto K = TRegistry::OpenKey(HKEY_CLASSES_ROOT, Path);
  if (!K) return;
  for (const std::string& Sub : TRegistry::SubKeys(*K).value_or(std::vector<std::string>{})) {
    const std::string Child = Path.empty() ? Sub : Path + "\\" + Sub;
    Out.insert(Child);
    CollectClassesRootKeys(Child, Out);
  }
}

inline std::set<std::string> AllClassesRootKeys() {
  std::set<std::string> Keys;
  CollectClassesRootKeys("", Keys);
  return Keys;
}

}  // namespace fp::test
