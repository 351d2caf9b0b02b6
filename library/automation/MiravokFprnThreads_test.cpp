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

namespace fp::test {
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
  std::atomic<int> failed{0};
  auto sell = [&] {
    const BStr numb(u"1"), name(u"Water");
    for (int i = 0; i < kSalesPerThread; ++i) {
      LONG res = 7;
      if (FObj->AddPLU(numb.Get(), name.Get(), 1.2, 1, 2, &res) != S_OK || res != 0) ++failed;
    }
  };
  std::thread a(sell), b(sell);
  a.join();
  b.join();
  EXPECT_EQ(failed.load(), 0) << Message();

  const std::vector<model::Request> requests = M().Requests();
  size_t sales = 0;
  for (const model::Request& r : requests) {
    EXPECT_TRUE(r.frameOk) << "request " << r.index;
    EXPECT_FALSE(r.repeat) << "request " << r.index;
    EXPECT_TRUE(r.executed) << "request " << r.index;
    if (r.cmd == 0x31) ++sales;
  }
  EXPECT_EQ(sales, 2u * kSalesPerThread);
  // Each frame carries the next SEQ: no call sent a frame twice or took another's SEQ.
  for (size_t i = 1; i < requests.size(); ++i) EXPECT_NE(requests[i].seq, requests[i - 1].seq) << i;
  const model::ModelState state = M().State();
  ASSERT_TRUE(state.open.has_value());
  EXPECT_EQ(state.open->items.size(), 2u * kSalesPerThread);
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
  for (int n = 10; n < 18; ++n) AddUnopenablePort(n);
  test::TJumpClock secondClock;
  ComPtr<IMiravokFprn> second = NewObject(secondClock);
  ASSERT_EQ(second->put_LogFilePath(BStr(Utf8ToWide(FDir + "/log")).Get()), S_OK);
  LastFoundPort = -1;

  constexpr int kRounds = 30;
  std::mutex mutex;
  std::vector<std::string> unexpected;
  auto search = [&](IMiravokFprn* Object, const char16_t* Serial) {
    for (int i = 0; i < kRounds; ++i) {
      LONG res = 7, code = -1;
      const HRESULT hr = Object->InitEx(115200, 0, 0, BStr(u"").Get(), BStr(Serial).Get(), &res);
      Object->get_LastErrorCode(&code);
      BStr text;
      Object->get_LastErrorMessage(text.Out());
      const std::string message = BstrToAnsi(text.Get());
      // The port found was taken by the other object's search before it was opened again.
      const bool takenMeanwhile = code == 102 && message.find("is in use by another program") != std::string::npos;
      if (hr != S_OK || !((res == 0 && code == 0) || (res == -1 && (code == ErrNoDevices || takenMeanwhile)))) {
        std::lock_guard<std::mutex> lock(mutex);
        unexpected.push_back(std::to_string(res) + "/" + std::to_string(code) + " " + message);
      }
      Object->Close();
    }
  };
  std::thread a(search, FObj.Get(), u"AA000002"), b(search, second.Get(), u"CD123456");
  a.join();
  b.join();
  EXPECT_TRUE(unexpected.empty()) << ::testing::PrintToString(unexpected);
  const int32_t last = LastFoundPort.load();
  EXPECT_TRUE(last == 2 || last == 5) << last;
  std::lock_guard<std::recursive_mutex> lock(DeviceInfoListLock);
  // The records of one whole enumeration, each port once.
  std::vector<std::string> names;
  for (const TDeviceInfo& info : DeviceInfoList) names.push_back(info.PortName);
  EXPECT_THAT(names, ::testing::UnorderedElementsAre("COM2", "COM5", "COM10", "COM11", "COM12", "COM13", "COM14",
                                                     "COM15", "COM16", "COM17"));
  second.Reset();
}

}  // namespace
}  // namespace fp::test
