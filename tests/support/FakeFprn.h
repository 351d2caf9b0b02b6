#pragma once
// A fake automation object for the program's tests: it implements IMiravokFprn, keeps a
// journal of the calls it receives, plays a small printer (the receipt's running total
// and payments, the PLU and department tables, the clock) and fails chosen calls on
// demand, with a result of -1 and a last error, or with a failed HRESULT.
//
//   auto fake = fp::test::TFakeFprn::Make();
//   fp::TECRFileReader reader(fake->Factory());
//   fake->Fail("AddPLU", 206, "[AddPLU failed] Paper out ");  // the next AddPLU fails
//   ... run the reader ...
//   fake->Calls;      // "StartBon(2, 1, 1, , , 1, , , , , , , , )", "AddPLU(0012, Water, 1.5, 1, 2)" ...
//   fake->Names();    // "StartBon", "AddPLU", ...
//
// Arguments in the journal: integers and doubles in their shortest decimal form, texts as
// they came, separated by ", ". Every text of the fake (journal, printer data, messages) is
// code page 1251. The read-outs LastErrorCode and LastErrorMessage are not journalled.
// Entries the fake does not play answer S_OK with their journal line.
#include <charconv>
#include <cmath>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "library/automation/MiravokFPAxX4_BG_TLB.h"
#include "program/receipts/MiravokFprnProxy.h"
#include "platform/Cp1251.h"
#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"
#include "platform/com/OleAuto.h"

namespace fp::test {

inline TComModule& FakeModule() {
  static TComModule module;
  return module;
}

// Every entry of a .def table as an override answering `answer`, its arguments unnamed.
#define FP_FAKE_ARG(dir, t, n) FP_PARAM_##dir(t, )

class TFakeBonData : public TComObject<TFakeBonData, TDispatchImpl<IBonData>> {
 public:
  TFakeBonData() : TComObject(FakeModule()) {}
  double Total = 0, Payed = 0;
  std::u16string DocNumber;
  LONG Items = 0, Invoice = 0, Open = 0;

#define FP_ARG FP_FAKE_ARG
#define FP_DISP(kind, id, name, args) \
  HRESULT FP_MEMBER_##kind(name) args override { return E_NOTIMPL; }
#include "library/automation/IBonData.def"
#undef FP_DISP
#undef FP_ARG
};

// The getters the program reads, over the defaults above.
class TFakeBon final : public TFakeBonData {
 public:
  HRESULT get_TotalAmount(double* v) override { return *v = Total, S_OK; }
  HRESULT get_PayedAmount(double* v) override { return *v = Payed, S_OK; }
  HRESULT get_DocNumber(BSTR* v) override { return *v = MakeBstr(DocNumber), S_OK; }
  HRESULT get_ItemCount(LONG* v) override { return *v = Items, S_OK; }
  HRESULT get_IsInvoice(LONG* v) override { return *v = Invoice, S_OK; }
  HRESULT get_IsOpen(LONG* v) override { return *v = Open, S_OK; }
};

class TFakeDepartTotalsData : public TComObject<TFakeDepartTotalsData, TDispatchImpl<IDepartTotals>> {
 public:
  TFakeDepartTotalsData() : TComObject(FakeModule()) {}
  LONG NomValue = 0, TaxGrp = 0;
  std::u16string Name, Text, ExistsText;

#define FP_ARG FP_FAKE_ARG
#define FP_DISP(kind, id, name, args) \
  HRESULT FP_MEMBER_##kind(name) args override { return E_NOTIMPL; }
#include "library/automation/IDepartTotals.def"
#undef FP_DISP
#undef FP_ARG
};

class TFakeDepartTotals final : public TFakeDepartTotalsData {
 public:
  HRESULT get_Nom(LONG* v) override { return *v = NomValue, S_OK; }
  HRESULT get_Description(BSTR* v) override { return *v = MakeBstr(Name), S_OK; }
  HRESULT get_AddText(BSTR* v) override { return *v = MakeBstr(Text), S_OK; }
  HRESULT get_TaxGrpNo(LONG* v) override { return *v = TaxGrp, S_OK; }
  HRESULT get_Exists(BSTR* v) override { return *v = MakeBstr(ExistsText), S_OK; }
};

// The base with every entry of IMiravokFprn answering S_OK after its journal line.
class TFakeFprnDefaults : public TComObject<TFakeFprnDefaults, TDispatchImpl<IMiravokFprn>> {
 public:
  TFakeFprnDefaults() : TComObject(FakeModule()) {}
  std::vector<std::string> Calls;

 protected:
  HRESULT Unplayed(const char* name) {
    Calls.push_back(std::string(name) + "()");
    return S_OK;
  }

 public:
#define FP_ARG FP_FAKE_ARG
#define FP_DISP(kind, id, name, args) \
  HRESULT FP_MEMBER_##kind(name) args override { return Unplayed(#name); }
#include "library/automation/IMiravokFprn.def"
#undef FP_DISP
#undef FP_ARG
};

#undef FP_FAKE_ARG

class TFakeFprn final : public TFakeFprnDefaults {
 public:
  static ComPtr<TFakeFprn> Make() { return ComPtr<TFakeFprn>(new TFakeFprn()); }

  // A factory handing out this object (what the reader's constructor takes).
  TFprnFactory Factory() {
    ComPtr<TFakeFprn> self(this);
    return [self] { return ComPtr<IMiravokFprn>(static_cast<IMiravokFprn*>(self.Get())); };
  }

  // ---- The script ----

  // The nth call of `method` from now on (1: the next one) fails: Res -1 (or the neutral
  // value), LastErrorCode `code`, LastErrorMessage `message`.
  void Fail(const std::string& method, int32_t code, const std::string& message, int nth = 1) {
    FAilures[method].push_back({Count(method) + nth, code, message, S_OK, {}});
  }
  // The nth call of `method` from now on answers the HRESULT `hr` with the description.
  void FailCom(const std::string& method, HRESULT hr, const std::u16string& description, int nth = 1) {
    FAilures[method].push_back({Count(method) + nth, 0, {}, hr, description});
  }

  // ---- The printer ----
  std::string Serial = "ZK000001";
  std::string Fiscal = "02000001";
  std::string ModelText = "FP-X4 [ZK000001 1.00]";
  std::string DriverVersion = "Fiscal Printer X4 vers: 1.18; ";
  std::string NextInvoice = "0000000101";
  std::string HardwareStatus;  // the texts of set error bits; empty: in order
  std::string UniqueOnClose;   // LastUniqueSellNo after a fiscal receipt without AddUniqueSellNom
  int32_t LastDoc = 41;
  int32_t Line = 32;
  int32_t Port = 0;
  int32_t FoundPort = 3;  // the port InitEx finds
  int32_t Currency = 0;
  bool CurrencyFails = false;
  DATE Clock = 46000.5;  // 9 December 2025, 12:00

  struct TPlu {
    int32_t TaxGrp = 2;
    int32_t Group = 1;
    double Price = 0;
    std::string Name;
  };
  std::map<int32_t, TPlu> Plus;
  struct TDepartment {
    std::string Name, Text, Exists = "P";
    int32_t TaxGrp = 2;
  };
  std::map<int32_t, TDepartment> Departments;
  int32_t NoDepartmentObjectAt = 0;  // GetDepartmentName of this number: no object and no error

  // The receipt being printed.
  int32_t BonType = 0;
  double Total = 0, Payed = 0, LastSale = 0;
  std::string LastUnique, PendingUnique;

  // The names of the journal lines.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& c : Calls) names.push_back(c.substr(0, c.find('(')));
    return names;
  }

  // ---- Connection ----
  HRESULT Init(LONG ComPort, LONG PortSpeed, LONG Locale, LONG Language, BSTR SerialKey, LONG* Res) override {
    return Act(Res, "Init", Args(ComPort, PortSpeed, Locale, Language, SerialKey), [&] { Port = ComPort; });
  }
  HRESULT InitEx(LONG PortSpeed, LONG Locale, LONG Language, BSTR SerialKey, BSTR DeviceSerialNo, LONG* Res) override {
    return Act(Res, "InitEx", Args(PortSpeed, Locale, Language, SerialKey, DeviceSerialNo), [&] { Port = FoundPort; });
  }
  HRESULT Close() override {
    HRESULT hr;
    Enter("Close", "", true, hr);
    return hr;
  }

  // ---- Receipts ----
  HRESULT StartBon(LONG Type, LONG PLUNumbering, LONG CashierNo, BSTR CashierName, BSTR CashierPass, LONG CashierPOS,
                   BSTR InvNumber, BSTR InvTaxNumber, BSTR InvVATNumber, BSTR InvCompany, BSTR InvCity, BSTR InvAddress,
                   BSTR InvMOL, BSTR InvReceiver, LONG* Res) override {
    return Act(Res, "StartBon",
               Args(Type, PLUNumbering, CashierNo, CashierName, CashierPass, CashierPOS, InvNumber, InvTaxNumber,
                    InvVATNumber, InvCompany, InvCity, InvAddress, InvMOL, InvReceiver),
               [&] {
                 BonType = Type;
                 Total = Payed = LastSale = 0;
               });
  }
  HRESULT EndBon(LONG* Res) override {
    return Act(Res, "EndBon", "", [&] {
      // A non-fiscal receipt leaves the number of the last fiscal one.
      if (BonType != 1) LastUnique = PendingUnique.empty() ? UniqueOnClose : PendingUnique;
      PendingUnique.clear();
      BonType = 0;
      ++LastDoc;
      Total = Payed = LastSale = 0;
    });
  }
  HRESULT AddUniqueSellNom(BSTR SellNom, LONG* Res) override {
    return Act(Res, "AddUniqueSellNom", Args(SellNom), [&] { PendingUnique = Text(SellNom); });
  }
  HRESULT SetRefundParams(LONG FiscalBlock, LONG Reason, LONG RecieptNo, BSTR InvDate, BSTR InvoiceNom,
                          LONG* Res) override {
    return Act(Res, "SetRefundParams", Args(FiscalBlock, Reason, RecieptNo, InvDate, InvoiceNom), [] {});
  }
  HRESULT AddPLU(BSTR Numb, BSTR Name, double Price, double Quantity, LONG VATGroup, LONG* Res) override {
    return Act(Res, "AddPLU", Args(Numb, Name, Price, Quantity, VATGroup), [&] { Sell(Price * Quantity); });
  }
  HRESULT AddDeprtPlu(BSTR Numb, BSTR Name, LONG DeprtmentNo, double Price, double Quantity, LONG VATGrp,
                      LONG* Res) override {
    return Act(Res, "AddDeprtPlu", Args(Numb, Name, DeprtmentNo, Price, Quantity, VATGrp),
               [&] { Sell(Price * Quantity); });
  }
  HRESULT AddProgPlu(LONG Numb, LONG DeprtmentNo, double Quantity, double Price, LONG VATGrp, LONG* Res) override {
    return Act(Res, "AddProgPlu", Args(Numb, DeprtmentNo, Quantity, Price, VATGrp), [&] { Sell(Price * Quantity); });
  }
  HRESULT AddLine(BSTR LineText, BSTR Command, LONG WordWrap, LONG* Res) override {
    return Act(Res, "AddLine", Args(LineText, Command, WordWrap), [] {});
  }
  HRESULT AddDiscount(LONG DiscType, double Value, LONG* Res) override {
    return Act(Res, "AddDiscount", Args(DiscType, Value), [&] {
      if (DiscType == 1) Total += LastSale * Value / 100;
      if (DiscType == 2) Total += Total * Value / 100;
      if (DiscType == 3) Total += Value;
    });
  }
  HRESULT AddPayment(LONG Number, BSTR Name, double Ammount, double Cource, LONG* Res) override {
    return Act(Res, "AddPayment", Args(Number, Name, Ammount, Cource), [&] { Payed += Ammount; });
  }
  HRESULT AddPaymentByCurrncy(LONG PayNo, BSTR PayText, double PayAmount, double PayCourse, BSTR CurrAbrev,
                              LONG* Res) override {
    return Act(Res, "AddPaymentByCurrncy", Args(PayNo, PayText, PayAmount, PayCourse, CurrAbrev),
               [&] { Payed += PayAmount * PayCourse; });
  }

  // ---- Reports and service ----
  HRESULT CopyLastBon(LONG* Res) override {
    return Act(Res, "CopyLastBon", "", [] {});
  }
  HRESULT InOutMoney(double Ammount, LONG PayType, LONG* Res) override {
    return Act(Res, "InOutMoney", Args(Ammount, PayType), [] {});
  }
  HRESULT RunFMBlockReport(LONG StartBlock, LONG EndBlock, LONG Detailed, LONG* Res) override {
    return Act(Res, "RunFMBlockReport", Args(StartBlock, EndBlock, Detailed), [] {});
  }
  HRESULT RunFMDateReport(DATE StartDate, DATE EndDate, LONG Detailed, LONG* Res) override {
    return Act(Res, "RunFMDateReport", Args(StartDate, EndDate, Detailed), [] {});
  }
  HRESULT RunXReport(LONG* Res) override {
    return Act(Res, "RunXReport", "", [] {});
  }
  HRESULT RunZReport(LONG* Res) override {
    return Act(Res, "RunZReport", "", [] {});
  }
  HRESULT RunPrinterTest(LONG* Res) override {
    return Act(Res, "RunPrinterTest", "", [] {});
  }
  HRESULT ReportByDepartments(LONG Reset, LONG* Res) override {
    return Act(Res, "ReportByDepartments", Args(Reset), [] {});
  }
  HRESULT GetHardwareStatus(BSTR* Status, LONG* Res) override {
    return Act(Res, "GetHardwareStatus", Args(*Status), [&] {
      SysFreeString(*Status);
      *Status = MakeBstr(Cp1251ToWide(HardwareStatus));
    });
  }
  HRESULT GetCurrencyMode(LONG* CurrMode, LONG* Res) override {
    return Act(Res, "GetCurrencyMode", "", [&] {
      if (CurrencyFails) throw Refusal{201, "[Get currency mode failed] Invalid command "};
      *CurrMode = Currency;
    });
  }
  HRESULT GetClock(DATE* Res) override {
    return Value(Res, 0.0, "GetClock", [&] { return Clock; });
  }

  // ---- Read-back ----
  HRESULT GetLastDocNumber(LONG* Res) override {
    return Value(Res, LONG(0), "GetLastDocNumber", [&] { return LONG(LastDoc); });
  }
  HRESULT GetNextInvoiceNumber(BSTR* Res) override { return Str(Res, "GetNextInvoiceNumber", NextInvoice, true); }
  HRESULT GetSerialNumber(BSTR* Res) override { return Str(Res, "GetSerialNumber", Serial, true); }
  HRESULT GetFiscalNumber(BSTR* Res) override { return Str(Res, "GetFiscalNumber", Fiscal, true); }
  HRESULT GetDriverVersion(BSTR* Res) override { return Str(Res, "GetDriverVersion", DriverVersion, false); }
  HRESULT GetPrinterModel(BSTR* Res) override { return Str(Res, "GetPrinterModel", ModelText, false); }
  HRESULT get_LastUniqueSellNo(BSTR* Value) override { return Str(Value, "LastUniqueSellNo", LastUnique, false); }
  HRESULT get_LineLength(LONG* Value) override { return Read(Value, "LineLength", Line); }
  HRESULT get_ComPort(LONG* Value) override { return Read(Value, "ComPort", Port); }
  HRESULT get_LastErrorCode(LONG* Value) override { return *Value = ErrorCode, S_OK; }
  HRESULT get_LastErrorMessage(BSTR* Value) override {
    *Value = MakeBstr(Cp1251ToWide(ErrorMessage));
    return S_OK;
  }

  HRESULT GetRecieptStatus(IBonData** RecieptStatus) override {
    *RecieptStatus = nullptr;
    return Value(RecieptStatus, static_cast<IBonData*>(nullptr), "GetRecieptStatus", [&]() -> IBonData* {
      auto* bon = new TFakeBon();
      bon->Total = Total;
      bon->Payed = Payed;
      bon->DocNumber = Cp1251ToWide(std::to_string(LastDoc));
      bon->Open = BonType > 1;
      bon->AddRef();
      return bon;
    });
  }
  HRESULT GetDepartmentName(LONG DepNo, IDepartTotals** DepData) override {
    *DepData = nullptr;
    return Value(
        DepData, static_cast<IDepartTotals*>(nullptr), "GetDepartmentName",
        [&]() -> IDepartTotals* {
          if (DepNo == NoDepartmentObjectAt) return nullptr;
          const TDepartment d = Departments.count(DepNo) ? Departments[DepNo] : TDepartment{"", "", "", 0};
          auto* totals = new TFakeDepartTotals();
          totals->NomValue = DepNo;
          totals->Name = Cp1251ToWide(d.Name);
          totals->Text = Cp1251ToWide(d.Text);
          totals->ExistsText = Cp1251ToWide(d.Exists);
          totals->TaxGrp = d.TaxGrp;
          totals->AddRef();
          return totals;
        },
        Args(DepNo));
  }
  HRESULT SetDeparment(LONG Nom, LONG VATGrp, BSTR Description1, BSTR Description2, LONG* Res) override {
    return Act(Res, "SetDeparment", Args(Nom, VATGrp, Description1, Description2), [&] {
      auto& d = Departments[Nom];
      d.TaxGrp = VATGrp;
      d.Name = Text(Description1);
      d.Text = Text(Description2);
    });
  }
  HRESULT GetPLUData(LONG PluNo, LONG* TaxGrp, std::int8_t* GrpNo, double* UnitPrice, double* TotalSum,
                     double* SoldQtty, double* AvailQtty, BSTR* Name, LONG* Res) override {
    *Name = nullptr;
    return Act(Res, "GetPLUData", Args(PluNo), [&] {
      const TPlu p = Plus.count(PluNo) ? Plus[PluNo] : TPlu{0, 0, 0, ""};
      *TaxGrp = p.TaxGrp;
      *GrpNo = static_cast<std::int8_t>(p.Group & 0xFF);
      *UnitPrice = p.Price;
      *TotalSum = *SoldQtty = *AvailQtty = 0;
      *Name = MakeBstr(Cp1251ToWide(p.Name));
    });
  }
  HRESULT SetPluData(LONG PluNo, LONG TaxGrp, LONG GroupNo, double UnitPrice, BSTR Name, LONG* Res) override {
    return Act(Res, "SetPluData", Args(PluNo, TaxGrp, GroupNo, UnitPrice, Name), [&] {
      Plus[PluNo] = {TaxGrp, GroupNo, UnitPrice, Text(Name)};
    });
  }

  int32_t ErrorCode = 0;
  std::string ErrorMessage;  // code page 1251

 private:
  TFakeFprn() = default;

  struct TFailure {
    int At;  // the call number of the method that fails
    int32_t Code;
    std::string Message;
    HRESULT Hr;
    std::u16string Description;
  };
  struct Refusal {
    int32_t Code;
    std::string Message;
  };
  std::map<std::string, std::vector<TFailure>> FAilures;
  std::map<std::string, int> FCounts;

  int Count(const std::string& method) const {
    auto it = FCounts.find(method);
    return it == FCounts.end() ? 0 : it->second;
  }

  static std::string Text(BSTR b) { return WideToCp1251(BstrView(b)); }
  static std::string Arg(LONG v) { return std::to_string(v); }
  static std::string Arg(double v) {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    (void)ec;
    return std::string(buf, end);
  }
  static std::string Arg(BSTR b) { return Text(b); }
  template <class... A>
  static std::string Args(A... a) {
    std::string s;
    bool first = true;
    ((s += (first ? "" : ", ") + Arg(a), first = false), ...);
    return s;
  }

  void Sell(double amount) {
    Total += amount;
    LastSale = amount;
  }

  // Journal line and script of one call: S_OK and true to play it; false after a
  // scripted refusal (the last error set); a scripted HRESULT through `hr`.
  bool Enter(const std::string& name, const std::string& args, bool clears, HRESULT& hr) {
    Calls.push_back(name + "(" + args + ")");
    const int n = ++FCounts[name];
    hr = S_OK;
    if (clears) ErrorCode = 0, ErrorMessage.clear();
    auto& list = FAilures[name];
    for (auto it = list.begin(); it != list.end(); ++it) {
      if (it->At != n) continue;
      TFailure f = *it;
      list.erase(it);
      if (FAILED(f.Hr)) {
        hr = f.Hr;
        ComSetErrorInfo(IID_IMiravokFprn, u"MiravokFPAxX4_BG.MiravokFprn", f.Description);
        return false;
      }
      ErrorCode = f.Code;
      ErrorMessage = f.Message;
      return false;
    }
    return true;
  }

  template <class F>
  HRESULT Act(LONG* Res, const std::string& name, const std::string& args, F&& play) {
    *Res = -1;
    HRESULT hr;
    if (!Enter(name, args, true, hr)) return hr;
    try {
      play();
    } catch (const Refusal& r) {
      ErrorCode = r.Code;
      ErrorMessage = r.Message;
      return S_OK;
    }
    *Res = 0;
    return S_OK;
  }

  template <class T, class F>
  HRESULT Value(T* Res, T neutral, const std::string& name, F&& read, const std::string& args = "") {
    *Res = neutral;
    HRESULT hr;
    if (!Enter(name, args, true, hr)) return hr;
    *Res = read();
    return S_OK;
  }

  HRESULT Str(BSTR* Res, const std::string& name, const std::string& value, bool clears) {
    *Res = nullptr;
    HRESULT hr;
    if (!Enter(name, "", clears, hr)) {
      *Res = MakeBstr(u"");
      return hr;
    }
    *Res = MakeBstr(Cp1251ToWide(value));
    return S_OK;
  }

  HRESULT Read(LONG* Res, const std::string& name, int32_t value) {
    *Res = 0;
    HRESULT hr;
    if (!Enter(name, "", false, hr)) return hr;
    *Res = value;
    return S_OK;
  }
};

}  // namespace fp::test
