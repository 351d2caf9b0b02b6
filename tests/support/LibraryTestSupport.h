#pragma once
// The built automation library as the program has it once started: its file loaded by
// name and registered through its own entry point into the registry in use. For the
// tests that load the built library (FP_BIN_DIR names the build's output folder). Header
// only; for tests.
#include <dlfcn.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "platform/com/ComRuntime.h"
#include "platform/com/ComTypes.h"

namespace fp::test {

// The library file of this build.
inline const std::string kLibraryFile = std::string(FP_BIN_DIR) + "/MiravokFPAxX4_BG.so";

inline std::string HResultText(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

// Loads and registers the library for the object's life. Declare it after the registry it
// registers into, so that it goes first. Going, it unloads the libraries the component
// runtime holds that nothing uses any more, undoes the thread's initialisation and closes
// its own handle: objects of the library must be released by then.
//
//   ASSERT_TRUE(Library.LoadAndRegister());
class TRegisteredLibrary {
 public:
  // Whether Load initialises the component runtime for the test's thread, or leaves that to
  // the code under test, which runs on this thread and must initialise it itself (a
  // worker that forgot to would otherwise pass on the test's initialisation).
  enum class TThreadInit { Initialise, LeaveToTheCode };

  explicit TRegisteredLibrary(TThreadInit init = TThreadInit::Initialise) : FInit(init) {}
  ~TRegisteredLibrary() {
    CoFreeUnusedLibraries();
    if (FInitialised) CoUninitialize();
    if (FHandle) ::dlclose(FHandle);
  }
  TRegisteredLibrary(const TRegisteredLibrary&) = delete;
  TRegisteredLibrary& operator=(const TRegisteredLibrary&) = delete;

  // Initialises the thread (unless left to the code) and loads the file, as the program
  // does: by its path, RTLD_NOW | RTLD_LOCAL.
  ::testing::AssertionResult Load() {
    if (FInit == TThreadInit::Initialise) {
      const HRESULT hr = CoInitialize(nullptr);
      FInitialised = SUCCEEDED(hr);
      if (hr != S_OK) return ::testing::AssertionFailure() << "CoInitialize answered " << HResultText(hr);
    }
    ::dlerror();
    FHandle = ::dlopen(kLibraryFile.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!FHandle) return ::testing::AssertionFailure() << "dlopen: " << ::dlerror();
    return ::testing::AssertionSuccess();
  }
  // Calls the library's self-registration through its exported entry point.
  ::testing::AssertionResult Register() {
    const auto registerServer = Entry<TDllRegisterServer>("DllRegisterServer");
    if (!registerServer)
      return ::testing::AssertionFailure() << kLibraryFile << " has no DllRegisterServer: " << FLastError;
    const HRESULT hr = registerServer();
    if (hr != S_OK) return ::testing::AssertionFailure() << "DllRegisterServer answered " << HResultText(hr);
    return ::testing::AssertionSuccess();
  }
  ::testing::AssertionResult LoadAndRegister() {
    ::testing::AssertionResult loaded = Load();
    return loaded ? Register() : loaded;
  }

  // An exported entry point of the loaded file; null when it is missing (LastError says why).
  template <class TEntry>
  TEntry Entry(const char* name) {
    if (!FHandle) {
      FLastError = "the library is not loaded";
      return nullptr;
    }
    ::dlerror();
    void* entry = ::dlsym(FHandle, name);
    const char* error = ::dlerror();
    FLastError = error ? error : "";
    return reinterpret_cast<TEntry>(entry);
  }

  const std::string& LastError() const { return FLastError; }

 private:
  TThreadInit FInit;
  bool FInitialised = false;
  std::string FLastError;
  void* FHandle = nullptr;
};

}  // namespace fp::test
