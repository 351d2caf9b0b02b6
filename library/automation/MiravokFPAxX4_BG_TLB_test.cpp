#include "library/automation/MiravokFPAxX4_BG_TLB.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace fp::test {
namespace {

// The argument list of an entry written as the interface documentation writes it:
// "Nom: I4; Name: in/out BSTR; result Res: I4", or "none".
std::string Signature(const TDispEntry& e) {
  std::string s;
  for (const TDispArg& a : e.Arguments()) {
    if (!s.empty()) s += "; ";
    std::string type = a.Type;
    if (type.rfind("DISP(", 0) == 0) type = type.substr(5, type.size() - 6);
    switch (a.Dir) {
      case TArgDir::In: s += std::string(a.Name) + ": " + type; break;
      case TArgDir::Out: s += std::string(a.Name) + ": out " + type; break;
      case TArgDir::InOut: s += std::string(a.Name) + ": in/out " + type; break;
      case TArgDir::Result: s += "result " + std::string(a.Name) + ": " + type; break;
    }
  }
  return s.empty() ? "none" : s;
}

// The table slot of a virtual member (the Itanium C++ ABI keeps 1 + its byte offset in the
// vtable in the member pointer).
template <class M>
std::size_t SlotOf(M member) {
  static_assert(sizeof(M) == 2 * sizeof(std::uintptr_t));
  std::uintptr_t raw[2];
  std::memcpy(raw, &member, sizeof raw);
  return (raw[0] - 1) / sizeof(void*);
}

struct TExpected {
  int Pos;
  DISPID Id;
  TDispKind Kind;
  const char* Name;
  const char* Arguments;
};

const TExpected kMiravokFprn[] = {
    {1, 0x1, TDispKind::Method, "Init",
     "ComPort: I4; PortSpeed: I4; Locale: I4; Language: I4; SerialKey: BSTR; result Res: I4"},
    {2, 0x2, TDispKind::Method, "Close", "none"},
    {3, 0x5, TDispKind::Method, "StartBon",
     "BonType: I4; PLUNumbering: I4; CashierNo: I4; CashierName: BSTR; CashierPass: BSTR; CashierPOS: I4; InvNumber: "
     "BSTR; InvTaxNumber: BSTR; InvVATNumber: BSTR; InvCompany: BSTR; InvCity: BSTR; InvAddress: BSTR; InvMOL: BSTR; "
     "InvReceiver: BSTR; result Res: I4"},
    {4, 0x6, TDispKind::Method, "EndBon", "result Res: I4"},
    {5, 0x7, TDispKind::Method, "AddPLU",
     "Numb: BSTR; Name: BSTR; Price: R8; Quantity: R8; VATGroup: I4; result Res: I4"},
    {6, 0x8, TDispKind::Method, "AddLine", "Line: BSTR; Command: BSTR; WordWrap: I4; result Res: I4"},
    {7, 0x9, TDispKind::Method, "AddDiscount", "DiscType: I4; Value: R8; result Res: I4"},
    {8, 0xa, TDispKind::Method, "AddBarcode", "BData: BSTR; BType: I4; BHeight: I4; BHri: I4; result Res: I4"},
    {9, 0xb, TDispKind::Method, "AddPayment", "Number: I4; Name: BSTR; Ammount: R8; Cource: R8; result Res: I4"},
    {10, 0x64, TDispKind::Method, "CopyLastBon", "result Res: I4"},
    {11, 0x65, TDispKind::Method, "GetClock", "result Res: DATE"},
    {12, 0x66, TDispKind::Method, "SetClock", "Val: DATE; result Res: I4"},
    {13, 0x67, TDispKind::Method, "DisplayPrint", "Line1: BSTR; Line2: BSTR; result Res: I4"},
    {14, 0x68, TDispKind::Method, "InOutMoney", "Ammount: R8; PayType: I4; result Res: I4"},
    {15, 0xc8, TDispKind::Method, "GetLastDocNumber", "result Res: I4"},
    {16, 0xc9, TDispKind::Method, "GetNextInvoiceNumber", "result Res: BSTR"},
    {17, 0xca, TDispKind::Method, "GetSerialNumber", "result Res: BSTR"},
    {18, 0xcb, TDispKind::Method, "GetFiscalNumber", "result Res: BSTR"},
    {19, 0xcf, TDispKind::Method, "GetDriverVersion", "result Res: BSTR"},
    {20, 0xd0, TDispKind::Method, "GetDriverVendor", "result Res: BSTR"},
    {21, 0xd1, TDispKind::Method, "GetPrinterModel", "result Res: BSTR"},
    {22, 0xce, TDispKind::Method, "GetHardwareStatus", "Status: in/out BSTR; result Res: I4"},
    {23, 0x96, TDispKind::Method, "RunFMBlockReport", "StartBlock: I4; EndBlock: I4; Detailed: I4; result Res: I4"},
    {24, 0x97, TDispKind::Method, "RunFMDateReport", "StartDate: DATE; EndDate: DATE; Detailed: I4; result Res: I4"},
    {25, 0x98, TDispKind::Method, "RunXReport", "result Res: I4"},
    {26, 0x99, TDispKind::Method, "RunZReport", "result Res: I4"},
    {27, 0x9a, TDispKind::Method, "RunPLUReport", "ZeroFlag: I4; PrintFlag: I4; result Res: I4"},
    {28, 0x9b, TDispKind::Method, "RunPrinterTest", "result Res: I4"},
    {29, 0x12c, TDispKind::PropGet, "LogFilePath", "result Value: BSTR"},
    {30, 0x12c, TDispKind::PropPut, "LogFilePath", "value: BSTR"},
    {31, 0xd6, TDispKind::PropGet, "PrintInvDublicate", "result Value: I4"},
    {32, 0xd6, TDispKind::PropPut, "PrintInvDublicate", "value: I4"},
    {33, 0xcc, TDispKind::Method, "GetRecieptStatus", "result RecieptStatus: IBonData"},
    {34, 0xcd, TDispKind::PropGet, "LastErrorCode", "result Value: I4"},
    {35, 0xd2, TDispKind::PropGet, "LastErrorMessage", "result Value: BSTR"},
    {36, 0xd4, TDispKind::Method, "GetXReportData", "result XReportData: IXReportData"},
    {37, 0xd5, TDispKind::Method, "GetAdvLinets", "result AdvData: IAdvLines"},
    {38, 0xd7, TDispKind::Method, "SetAdvLine", "LineNo: I4; LineText: BSTR; result Res: I4"},
    {39, 0xd8, TDispKind::PropGet, "LineLength", "result Value: I4"},
    {40, 0xd9, TDispKind::Method, "AddDeprtPlu",
     "Numb: BSTR; Name: BSTR; DeprtmentNo: I4; Price: R8; Quantity: R8; VATGrp: I4; result Res: I4"},
    {41, 0xdb, TDispKind::Method, "SetDeparment",
     "Nom: I4; VATGrp: I4; Description1: BSTR; Description2: BSTR; result Res: I4"},
    {42, 0xdc, TDispKind::Method, "GetDeprtmentTotals", "Nom: I4; result DepartmentTotals: IDepartTotals"},
    {43, 0xda, TDispKind::Method, "GetDepartmentName", "DepNo: I4; result DepData: IDepartTotals"},
    {44, 0xd3, TDispKind::Method, "InitEx",
     "PortSpeed: I4; Locale: I4; Language: I4; SerialKey: BSTR; DeviceSerialNo: BSTR; result Res: I4"},
    {45, 0xdd, TDispKind::PropGet, "ComPort", "result Value: I4"},
    {46, 0xde, TDispKind::Method, "GetPayType", "Nom: I4; Name: in/out BSTR; result Res: I4"},
    {47, 0xdf, TDispKind::Method, "ReportByDepartments", "Reset: I4; result Res: I4"},
    {48, 0xe0, TDispKind::Method, "GetPLUData",
     "PluNo: I4; TaxGrp: out I4; GrpNo: out I1; UnitPrice: out R8; TotalSum: out R8; SoldQtty: out R8; AvailQtty: out "
     "R8; Name: out BSTR; result Res: I4"},
    {49, 0xe1, TDispKind::Method, "SetPluData",
     "PluNo: I4; TaxGrp: I4; GroupNo: I4; UnitPrice: R8; Name: BSTR; result Res: I4"},
    {50, 0xe2, TDispKind::Method, "AddProgPlu",
     "Numb: I4; DeprtmentNo: I4; Quantity: R8; Price: R8; VATGrp: I4; result Res: I4"},
    {51, 0xe3, TDispKind::Method, "GetLastError", "LngCode: I4; result Res: BSTR"},
    {52, 0xe4, TDispKind::Method, "GetErrCodeText", "ErrCode: I4; LangCode: I4; result Res: BSTR"},
    {53, 0xe5, TDispKind::Method, "OpenCashDrawer", "PulseTime: I4; result Res: I4"},
    {54, 0xe9, TDispKind::Method, "AddUniqueSellNom", "SellNom: BSTR; result Res: I4"},
    {55, 0xe6, TDispKind::Method, "SetRefundParams",
     "FiscalBlock: I4; Reason: I4; RecieptNo: I4; InvDate: BSTR; InvoiceNom: BSTR; result Res: I4"},
    {56, 0xe7, TDispKind::Method, "CheckPRNStatus", "Status: out I4; result Res: I4"},
    {57, 0xe8, TDispKind::Method, "GetNextRefundInvNumber", "result Res: BSTR"},
    {58, 0xea, TDispKind::PropGet, "LastUniqueSellNo", "result Value: BSTR"},
    {59, 0xec, TDispKind::Method, "VoidCurrentReciept", "result Res: I4"},
    {60, 0xeb, TDispKind::PropGet, "FPName", "result Value: BSTR"},
    {61, 0xed, TDispKind::PropGet, "FPSerial", "result Value: BSTR"},
    {62, 0xee, TDispKind::PropGet, "FPFiscalNom", "result Value: BSTR"},
    {63, 0xef, TDispKind::PropGet, "FPVersion", "result Value: BSTR"},
    {64, 0xf0, TDispKind::PropGet, "FPDateTimeAsString", "result Value: BSTR"},
    {65, 0xf0, TDispKind::PropPut, "FPDateTimeAsString", "value: BSTR"},
    {66, 0xf1, TDispKind::Method, "InitTCP",
     "IPAddress: BSTR; IPPort: I4; Locale: I4; Language: I4; SerialKey: BSTR; result Res: I4"},
    {67, 0xf2, TDispKind::Method, "DisplayTop", "Text: BSTR; result Res: I4"},
    {68, 0xf3, TDispKind::Method, "DisplayBottom", "Text: BSTR; result Res: I4"},
    {69, 0xf4, TDispKind::Method, "DisplayClear", "result Res: I4"},
    {70, 0xf5, TDispKind::Method, "DisplayDateTime", "result Res: I4"},
    {71, 0xf6, TDispKind::Method, "SetOperator", "OperNom: I4; OperName: BSTR; OperPass: BSTR; result Res: I4"},
    {72, 0xf7, TDispKind::Method, "GetCurrencyMode", "CurrMode: in/out I4; result Res: I4"},
    {73, 0xf8, TDispKind::Method, "AddPaymentByCurrncy",
     "PayNo: I4; PayText: BSTR; PayAmount: R8; PayCourse: R8; CurrAbrev: BSTR; result Res: I4"},
};

TEST(MiravokFPAxX4_BG_TLB, IMiravokFprnHasItsSeventyThreeEntries) {
  const TDispTable& table = IMiravokFprn::DispTable();
  ASSERT_EQ(table.Count, std::size(kMiravokFprn));
  ASSERT_EQ(table.Count, 73u);
  EXPECT_STREQ(table.InterfaceName, "IMiravokFprn");
  for (std::size_t i = 0; i < table.Count; ++i) {
    const TDispEntry& e = table.Entries[i];
    const TExpected& x = kMiravokFprn[i];
    ASSERT_EQ(x.Pos, int(i) + 1);
    EXPECT_STREQ(e.Name, x.Name) << "position " << x.Pos;
    EXPECT_EQ(e.Id, x.Id) << x.Name;
    EXPECT_EQ(e.Kind, x.Kind) << x.Name;
    EXPECT_EQ(Signature(e), x.Arguments) << x.Name;
  }
}

TEST(MiravokFPAxX4_BG_TLB, EntriesSitInConsecutiveSlotsAfterIDispatch) {
  EXPECT_EQ(SlotOf(&IUnknown::QueryInterface), 0u);
  EXPECT_EQ(SlotOf(&IUnknown::Release), 2u);
  EXPECT_EQ(SlotOf(&IDispatch::GetTypeInfoCount), 3u);
  EXPECT_EQ(SlotOf(&IDispatch::Invoke), 6u);
  EXPECT_EQ(SlotOf(&IClassFactory::CreateInstance), 3u);
  EXPECT_EQ(SlotOf(&IClassFactory::LockServer), 4u);
  EXPECT_EQ(SlotOf(&IObjectSafety::GetInterfaceSafetyOptions), 3u);
  EXPECT_EQ(SlotOf(&IObjectSafety::SetInterfaceSafetyOptions), 4u);

#define FP_ARG(dir, t, n)
#define FP_DISP(kind, id, name, args) {#name, SlotOf(&IMiravokFprn::FP_MEMBER_##kind(name))},
  const std::pair<const char*, std::size_t> slots[] = {
#include "library/automation/IMiravokFprn.def"
  };
#undef FP_DISP
  ASSERT_EQ(std::size(slots), 73u);
  EXPECT_EQ(SlotOf(&IMiravokFprn::Init), 7u);  // position 1 is the eighth slot
  for (std::size_t i = 0; i < std::size(slots); ++i) EXPECT_EQ(slots[i].second, 7 + i) << slots[i].first;
  EXPECT_EQ(SlotOf(&IMiravokFprn::get_LogFilePath), 7u + 28);
  EXPECT_EQ(SlotOf(&IMiravokFprn::put_LogFilePath), 7u + 29);

#define FP_DISP(kind, id, name, args) SlotOf(&IBonData::FP_MEMBER_##kind(name)),
  const std::size_t bonSlots[] = {
#include "library/automation/IBonData.def"
  };
#undef FP_DISP
#undef FP_ARG
  for (std::size_t i = 0; i < std::size(bonSlots); ++i) EXPECT_EQ(bonSlots[i], 7 + i);
  EXPECT_EQ(SlotOf(&IBonData::get_ItemCount), 13u);
  EXPECT_EQ(SlotOf(&IBonData::put_IsOpen), 18u);
}

TEST(MiravokFPAxX4_BG_TLB, EveryDispidNamesOneMember) {
  for (const TDispTable* t : {&IMiravokFprn::DispTable(), &IBonData::DispTable(), &IXReportData::DispTable(),
                              &IAdvLines::DispTable(), &IDepartTotals::DispTable()}) {
    std::set<std::pair<DISPID, TDispKind>> seen;
    std::set<DISPID> ids;
    std::set<std::string> names;
    for (const TDispEntry& e : t->Items()) {
      EXPECT_TRUE(seen.insert({e.Id, e.Kind}).second) << t->InterfaceName << " " << e.Name;
      // A DISPID is one name (a property's get and put share it), and a name one DISPID.
      if (ids.insert(e.Id).second) {
        EXPECT_TRUE(names.insert(e.Name).second) << e.Name;
      }
      auto args = e.Arguments();
      for (std::size_t k = 0; k + 1 < args.size(); ++k)
        EXPECT_NE(args[k].Dir, TArgDir::Result) << e.Name << ": the result comes last";
      if (e.Kind == TDispKind::PropPut) {
        EXPECT_TRUE(args.size() == 1 && args[0].Dir == TArgDir::In) << e.Name;
      }
      if (e.Kind == TDispKind::PropGet) {
        EXPECT_TRUE(args.size() == 1 && args[0].Dir == TArgDir::Result) << e.Name;
      }
    }
  }
}

// A read/write property of a result interface: its get, then its put.
struct TProperty {
  const char* Name;
  DISPID Id;
  const char* Type;
};

void ExpectProperties(const TDispTable& table, const std::vector<TProperty>& expected) {
  ASSERT_EQ(table.Count, 2 * expected.size()) << table.InterfaceName;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const TProperty& p = expected[i];
    const TDispEntry& get = table.Entries[2 * i];
    const TDispEntry& put = table.Entries[2 * i + 1];
    EXPECT_STREQ(get.Name, p.Name);
    EXPECT_STREQ(put.Name, p.Name);
    EXPECT_EQ(get.Kind, TDispKind::PropGet) << p.Name;
    EXPECT_EQ(put.Kind, TDispKind::PropPut) << p.Name;
    EXPECT_EQ(get.Id, p.Id) << p.Name;
    EXPECT_EQ(put.Id, p.Id) << p.Name;
    EXPECT_STREQ(get.Args[0].Type, p.Type) << p.Name;
    EXPECT_STREQ(put.Args[0].Type, p.Type) << p.Name;
  }
}

TEST(MiravokFPAxX4_BG_TLB, ResultInterfacesInTheOrderOfTheirTables) {
  ExpectProperties(IBonData::DispTable(), {{"TotalAmount", 0xc9, "R8"},
                                           {"PayedAmount", 0xca, "R8"},
                                           {"DocNumber", 0xcb, "BSTR"},
                                           {"ItemCount", 0xcd, "I4"},
                                           {"IsInvoice", 0xcc, "I4"},
                                           {"IsOpen", 0xce, "I4"}});

  std::vector<TProperty> x = {{"Total", 0xc9, "R8"}, {"TOTAL_VAT", 0xca, "R8"}};
  static const char* taxes[] = {"TotalTaxA", "TotalTaxB", "TotalTaxC", "TotalTaxD", "TotalTaxE", "TotalTaxF"};
  for (int i = 0; i < 6; ++i) x.push_back({taxes[i], 0xcb + i, "R8"});
  x.push_back({"TotalTaxH", 0xd1, "R8"});
  static const char* pays[] = {"TotalPy1", "TotalPy2", "TotalPy3", "TotalPy4",  "TotalPy5", "TotalPy6",
                               "TotalPy7", "TotalPy8", "TotalPy9", "TotalPy10", "TotalPy11"};
  for (int i = 0; i < 8; ++i) x.push_back({pays[i], 0xd2 + i, "R8"});
  x.push_back({"TotalTaxG", 0xda, "R8"});
  for (int i = 8; i < 11; ++i) x.push_back({pays[i], 0xdb + (i - 8), "R8"});
  ExpectProperties(IXReportData::DispTable(), x);

  static const char* lines[] = {"Line1", "Line2", "Line3", "Line4", "Line5", "Line6", "Line7", "Line8"};
  std::vector<TProperty> adv;
  for (int i = 0; i < 8; ++i) adv.push_back({lines[i], 0xc9 + i, "BSTR"});
  ExpectProperties(IAdvLines::DispTable(), adv);

  ExpectProperties(IDepartTotals::DispTable(), {{"Nom", 0xc9, "I4"},
                                                {"Description", 0xca, "BSTR"},
                                                {"AddText", 0xcb, "BSTR"},
                                                {"TaxGrpNo", 0xcc, "I4"},
                                                {"LastCountSales", 0xcd, "I4"},
                                                {"LastSum", 0xce, "R8"},
                                                {"CountSales", 0xcf, "I4"},
                                                {"TotalSum", 0xd0, "R8"},
                                                {"Exists", 0xd1, "BSTR"}});
}

TEST(MiravokFPAxX4_BG_TLB, IdentifiersAndCoclasses) {
  EXPECT_EQ(GuidToString(LIBID_MiravokFPAxX4_BG), "{D8BA97C9-C3B8-4A66-9CC5-7F72A202728C}");
  EXPECT_EQ(GuidToString(IID_IMiravokFprn), "{34B211BB-165D-434D-90E2-86DCE1D73125}");
  EXPECT_EQ(GuidToString(CLSID_MiravokFprn), "{BAD7EC8B-0E5B-4421-936E-F5AE2338BE32}");
  EXPECT_EQ(GuidToString(IID_IObjectSafety), "{CB5BDC81-93C1-11CF-8F20-00805F2CD064}");

  const char* names[] = {"MiravokFprn", "BonData", "XReportData", "AdvLines", "DepartTotals"};
  std::set<std::string> clsids;
  ASSERT_EQ(std::size(MiravokFPAxX4_BG_CoClasses), 5u);
  for (std::size_t i = 0; i < 5; ++i) {
    const TCoClassInfo& c = MiravokFPAxX4_BG_CoClasses[i];
    EXPECT_STREQ(c.Name, names[i]);
    EXPECT_EQ(std::string(c.ProgID), std::string("MiravokFPAxX4_BG.") + c.Name);
    EXPECT_EQ(std::string(c.InterfaceName), std::string("I") + c.Name);
    EXPECT_STREQ(c.ThreadingModel, "Apartment");
    EXPECT_TRUE(clsids.insert(GuidToString(c.Clsid)).second);
  }
  EXPECT_EQ(MiravokFPAxX4_BG_CoClasses[0].Iid, IMiravokFprn::Iid);
  EXPECT_EQ(MiravokFPAxX4_BG_CoClasses[4].Iid, IDepartTotals::Iid);
  EXPECT_EQ(MiravokFPAxX4_BG_CoClasses[1].Instancing, TInstancing::Single);
}

}  // namespace
}  // namespace fp::test
