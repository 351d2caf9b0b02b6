// The file job end to end: the worker thread prints two receipt files through the real
// automation library, registered into a registry of its own and created by class
// identifier, on the printer model behind a pty mapped as COM7.
#include <dlfcn.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "driver/MiravokFPAxX4_BG_TLB.h"
#include "filedriver/uPRNFileThreadTestSupport.h"
#include "platform/ComPortNames.h"
#include "platform/PortTestSupport.h"
#include "platform/Registry.h"
#include "tests/printermodel/PrinterModel.h"

namespace fp::test {
namespace {

const std::string kLibrary = std::string(FP_BIN_DIR) + "/MiravokFPAxX4_BG.so";

class TFileJobEndToEnd : public TWorkerFixture {
 protected:
  void SetUp() override {
    TWorkerFixture::SetUp();
    if (::access(kLibrary.c_str(), R_OK) != 0) GTEST_SKIP() << "the automation library is not built: " << kLibrary;
    // As the program does it at start: load the file by name and call its self-registration.
    Library = ::dlopen(kLibrary.c_str(), RTLD_NOW);
    ASSERT_NE(Library, nullptr) << ::dlerror();
    auto registerServer = reinterpret_cast<HRESULT (*)()>(::dlsym(Library, "DllRegisterServer"));
    ASSERT_NE(registerServer, nullptr);
    ASSERT_EQ(registerServer(), S_OK);
    auto ports = TRegistry::CreateKey(HKEY_LOCAL_MACHINE, ComPortMapKey);
    ASSERT_TRUE(ports);
    ASSERT_TRUE(TRegistry::SetValue(*ports, "COM7", Pty.SlavePath()));
    // The worker creates the object through the component runtime, as in the program.
    TECRFileThread::SetFprnFactory({});
  }
  void TearDown() override {
    TWorkerFixture::TearDown();
    if (Library) ::dlclose(Library);
  }

  TScopedTempRegistry Registry;
  TScopedFakeDevices NoOtherPorts;
  model::PrinterModel Model;
  model::PtyEndpoint Pty{Model};
  void* Library = nullptr;
};

TEST_F(TFileJobEndToEnd, PrintsTwoReceiptFilesAndLeavesTheirReportFiles) {
  Put("0001.bon", "%12^Water^150^2000\r\n", 60);
  Put("0002.bon", "%13^Bread^120^1000\r\n#E1^5.00\r\n", 50);
  auto t = FileJob();
  t->SetComPort(7);
  t->SetBaudRate(115200);
  t->Execute();

  EXPECT_EQ(t->ErrorMessage, "");
  EXPECT_EQ(Events, (std::vector<std::string>{"Online", "Started 0001.bon", "Processed", "Started 0002.bon",
                                              "Processed", "Finished"}));
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep", "0002.rep"}));
  const std::string rep1 = Read("0001.rep"), rep2 = Read("0002.rep");
  EXPECT_NE(rep1.find("%12^Water^150^2000\r\n"), std::string::npos) << rep1;
  EXPECT_NE(rep1.find("Close\r\n"), std::string::npos) << rep1;
  EXPECT_EQ(rep1.find("[ERROR]"), std::string::npos) << rep1;
  EXPECT_NE(rep2.find("#E1^5.00\r\n"), std::string::npos) << rep2;
  EXPECT_NE(rep2.find("Close\r\n"), std::string::npos) << rep2;
  EXPECT_EQ(rep2.find("[ERROR]"), std::string::npos) << rep2;
  const model::ModelState state = Model.State();
  EXPECT_EQ(state.closed.size(), 2u);
  EXPECT_FALSE(state.open.has_value());
}

}  // namespace
}  // namespace fp::test
