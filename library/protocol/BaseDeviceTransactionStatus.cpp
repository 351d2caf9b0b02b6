// The state of the fiscal transaction: whether a fiscal receipt is open, its item count,
// its amount and what has been paid so far.
#include "library/protocol/BaseDeviceCommands.h"
#include "library/protocol/BaseDeviceUnit.h"

namespace fp {

using namespace device_commands;

bool TBaseDevice::GetFPR_TransactionStatus(bool T, bool& IsOpen, int32_t& ItemsCount, double& Amount, double& Tender,
                                           bool& HasTender) {
  IsOpen = false;
  ItemsCount = 0;
  Amount = 0;
  Tender = 0;
  HasTender = false;
  TCommand c;
  c.Cmd = cmdTransactionStatus;
  c.ReadOnly = true;
  if (T) Add('T', c.Data);
  c.Check = TStatusCheck::Full;
  c.Record = TRecordStatus::WithStatus;
  c.Parse = [&](TAnswer& A) {
    A.RequireFields(3);
    IsOpen = A.IntField("[Open]") == 1;
    ItemsCount = A.Int32Field("[ItemsCount]");
    Amount = A.HundredthsField("[Amount]");
    if (!A.Text.empty()) {
      Tender = A.HundredthsField("[Tender]");
      HasTender = true;
    }
  };
  return RunCommand(c);
}

bool TBaseDevice::GetFPR_TransactionStatus(bool T, bool& IsOpen, int32_t& ItemsCount, double& Amount, double& Tender) {
  bool hasTender = false;
  return GetFPR_TransactionStatus(T, IsOpen, ItemsCount, Amount, Tender, hasTender);
}

}  // namespace fp
