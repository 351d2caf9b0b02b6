// Objects used from several threads: one caller at a time on one object, and two objects
// that search the ports at the same time.
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "library/transport/EnumPorts.h"
#include "library/automation/FprnModelTestSupport.h"

namespace fp {
namespace {

class OneObjectTwoThreads : public test::TFprnConnectedTest {};

// A program that sells from two threads on one object: every call waits for the running
// one, so no frame goes between another call's frames on the one sequence counter. The
// printer runs every sale once and receives no frame twice; one thread's sale is never
// taken for a repeat of the other's (both sell the same article, so a frame with another
// call's SEQ would be answered from the printer's last answer and not run).
TEST_F(OneObjectTwoThreads, EverySaleRunsOnceAndNothingIsSentTwice) {
  ASSERT_EQ(StartBon(2), 0) << Message();
  M().ClearRequests();
  constexpr int kSalesPerThread = 60;
  std::atomic<int> Failed{0};
  auto Sell = [&] {
    const BStr Numb(u"1"), Name(u"Water");
    for (int I = 0; I < kSalesPerThread; ++I) {
      LONG Res = 7;
      if (Obj->AddPLU(Numb.Get(), Name.Get(), 1.2, 1, 2, &Res) != S_OK || Res != 0) ++Failed;
    }
  };
  std::thread A(Sell), B(Sell);
  A.join();
  B.join();
  EXPECT_EQ(Failed.load(), 0) << Message();

  const std::vector<model::Request> Requests = M().Requests();
  size_t Sales = 0;
  for (const model::Request& R : Requests) {
    EXPECT_TRUE(R.frameOk) << "request " << R.index;
    EXPECT_FALSE(R.repeat) << "request " << R.index;
    EXPECT_TRUE(R.executed) << "request " << R.index;
    if (R.cmd == 0x31) ++Sales;
  }
  EXPECT_EQ(Sales, 2u * kSalesPerThread);
  // Each frame carries the next SEQ: no call sent a frame twice or took another's SEQ.
  for (size_t I = 1; I < Requests.size(); ++I) EXPECT_NE(Requests[I].seq, Requests[I - 1].seq) << I;
  const model::ModelState State = M().State();
  ASSERT_TRUE(State.open.has_value());
  EXPECT_EQ(State.open->items.size(), 2u * kSalesPerThread);
  EXPECT_EQ(Code(), 0);
}

// Two objects on two threads that run InitEx at the same time, again and again: the
// process-wide port records and the port of the last success are shared by them. Each
// search ends as a search does alone: a printer found, or none found because the other
// object held the ports at that moment (a port in use is passed over).
class TwoObjectsInitEx : public test::TFprnModelTest {};

TEST_F(TwoObjectsInitEx, SearchesAtTheSameTimeKeepThePortRecordsWhole) {
  AddPrinter(2).Model.SetSerialNumber("AA000002");
  AddPrinter(5).Model.SetSerialNumber("CD123456");
  // More ports make every enumeration longer, so the two meet inside it often.
  for (int N = 10; N < 18; ++N) AddUnopenablePort(N);
  test::TJumpClock SecondClock;
  ComPtr<IMiravokFprn> Second = NewObject(SecondClock);
  ASSERT_EQ(Second->put_LogFilePath(BStr(Utf8ToWide(Dir + "/log")).Get()), S_OK);
  LastFoundPort = -1;

  constexpr int kRounds = 30;
  std::mutex Mutex;
  std::vector<std::string> Unexpected;
  auto Search = [&](IMiravokFprn* Object, const char16_t* Serial) {
    for (int I = 0; I < kRounds; ++I) {
      LONG Res = 7, Code = -1;
      const HRESULT Hr = Object->InitEx(115200, 0, 0, BStr(u"").Get(), BStr(Serial).Get(), &Res);
      Object->get_LastErrorCode(&Code);
      BStr Text;
      Object->get_LastErrorMessage(Text.Out());
      const std::string Message = BstrToAnsi(Text.Get());
      // The port found was taken by the other object's search before it was opened again.
      const bool TakenMeanwhile = Code == 102 && Message.find("is in use by another program") != std::string::npos;
      if (Hr != S_OK || !((Res == 0 && Code == 0) || (Res == -1 && (Code == ErrNoDevices || TakenMeanwhile)))) {
        std::lock_guard<std::mutex> Lock(Mutex);
        Unexpected.push_back(std::to_string(Res) + "/" + std::to_string(Code) + " " + Message);
      }
      Object->Close();
    }
  };
  std::thread A(Search, Obj.Get(), u"AA000002"), B(Search, Second.Get(), u"CD123456");
  A.join();
  B.join();
  EXPECT_TRUE(Unexpected.empty()) << ::testing::PrintToString(Unexpected);
  const int32_t Last = LastFoundPort.load();
  EXPECT_TRUE(Last == 2 || Last == 5) << Last;
  std::lock_guard<std::recursive_mutex> Lock(DeviceInfoListLock);
  // The records of one whole enumeration, each port once.
  std::vector<std::string> Names;
  for (const TDeviceInfo& Info : DeviceInfoList) Names.push_back(Info.PortName);
  EXPECT_THAT(Names, ::testing::UnorderedElementsAre("COM2", "COM5", "COM10", "COM11", "COM12", "COM13", "COM14",
                                                     "COM15", "COM16", "COM17"));
  Second.Reset();
}

}  // namespace
}  // namespace fp
