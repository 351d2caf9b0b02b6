#pragma once
// The automation interface of the library MiravokFPAxX4_BG: the type library's
// identifiers, the five coclasses, the dual interfaces IMiravokFprn, IBonData,
// IXReportData, IAdvLines and IDepartTotals (each generated from its .def table, which
// also gives its dispatch table), and IObjectSafety. Header-only: clients include it and
// never link the library.
//
// Argument conventions of the entries (all answer an HRESULT):
//  - In BSTR: owned by the caller; a null BSTR is the empty text.
//  - Result / Out BSTR (BSTR*): the callee stores a new string the caller frees; it does
//    not read or free what *p held. Through Invoke the old value is freed first.
//  - InOut BSTR (BSTR*): the callee reads *p and, to replace it, frees it and stores a
//    new string.
//  - Result interface (IBonData** ...): the callee stores a new reference or null.
#include <cstdint>

#include "platform/com/ComTypes.h"
#include "platform/com/Dispatch.h"

namespace fp {

// ---------------------------------------------------------------------------------------
// Type library

inline constexpr GUID LIBID_MiravokFPAxX4_BG = GuidConst("{D8BA97C9-C3B8-4A66-9CC5-7F72A202728C}");
inline constexpr const char* MiravokFPAxX4_BG_LibName = "MiravokFPAxX4_BG";
inline constexpr const char* MiravokFPAxX4_BG_HelpString = "MiravokFPAxX4 Library";
inline constexpr WORD MiravokFPAxX4_BG_MajorVersion = 2;
inline constexpr WORD MiravokFPAxX4_BG_MinorVersion = 0;
inline constexpr LCID MiravokFPAxX4_BG_Locale = 0x409;

// ---------------------------------------------------------------------------------------
// Dispatch interfaces. The result interfaces come first: IMiravokFprn hands them back.

#define FP_ITF_NAME IBonData
#define FP_ITF_IID "{1CC79B61-639E-41AC-B275-0F43336E8F25}"
#define FP_ITF_DEF "library/automation/IBonData.def"
#include "platform/com/DispInterface.inc"

#define FP_ITF_NAME IXReportData
#define FP_ITF_IID "{E5F1598B-F705-48C5-9DEF-2010A2359B8E}"
#define FP_ITF_DEF "library/automation/IXReportData.def"
#include "platform/com/DispInterface.inc"

#define FP_ITF_NAME IAdvLines
#define FP_ITF_IID "{2A727A6B-851A-4FF5-BE76-86816384E812}"
#define FP_ITF_DEF "library/automation/IAdvLines.def"
#include "platform/com/DispInterface.inc"

#define FP_ITF_NAME IDepartTotals
#define FP_ITF_IID "{09057999-03F7-4F06-9EA2-19573795D80B}"
#define FP_ITF_DEF "library/automation/IDepartTotals.def"
#include "platform/com/DispInterface.inc"

#define FP_ITF_NAME IMiravokFprn
#define FP_ITF_IID "{34B211BB-165D-434D-90E2-86DCE1D73125}"
#define FP_ITF_DEF "library/automation/IMiravokFprn.def"
#include "platform/com/DispInterface.inc"

inline constexpr const IID& IID_IMiravokFprn = IMiravokFprn::Iid;
inline constexpr const IID& IID_IBonData = IBonData::Iid;
inline constexpr const IID& IID_IXReportData = IXReportData::Iid;
inline constexpr const IID& IID_IAdvLines = IAdvLines::Iid;
inline constexpr const IID& IID_IDepartTotals = IDepartTotals::Iid;

// ---------------------------------------------------------------------------------------
// IObjectSafety

inline constexpr DWORD INTERFACESAFE_FOR_UNTRUSTED_CALLER = 0x1;
inline constexpr DWORD INTERFACESAFE_FOR_UNTRUSTED_DATA = 0x2;

struct IObjectSafety : IUnknown {
  static constexpr IID Iid = GuidConst("{CB5BDC81-93C1-11CF-8F20-00805F2CD064}");
  using Base = IUnknown;

  virtual HRESULT GetInterfaceSafetyOptions(REFIID riid, DWORD* pdwSupportedOptions, DWORD* pdwEnabledOptions) = 0;
  virtual HRESULT SetInterfaceSafetyOptions(REFIID riid, DWORD dwOptionSetMask, DWORD dwEnabledOptions) = 0;

 protected:
  ~IObjectSafety() = default;
};
inline constexpr const IID& IID_IObjectSafety = IObjectSafety::Iid;

// ---------------------------------------------------------------------------------------
// Coclasses

inline constexpr CLSID CLSID_MiravokFprn = GuidConst("{BAD7EC8B-0E5B-4421-936E-F5AE2338BE32}");
inline constexpr CLSID CLSID_BonData = GuidConst("{B3DBBBBA-A615-4C0E-B6EB-43BCB689889F}");
inline constexpr CLSID CLSID_XReportData = GuidConst("{9EB43355-D6BD-45CA-A24D-34FCB639907E}");
inline constexpr CLSID CLSID_AdvLines = GuidConst("{A2057859-C4ED-40CF-8863-5FB1D8769F1D}");
inline constexpr CLSID CLSID_DepartTotals = GuidConst("{030EDE02-32FA-4870-86B5-47C6DC9A843F}");

inline constexpr const char16_t* ProgID_MiravokFprn = u"MiravokFPAxX4_BG.MiravokFprn";
inline constexpr const char16_t* ProgID_BonData = u"MiravokFPAxX4_BG.BonData";
inline constexpr const char16_t* ProgID_XReportData = u"MiravokFPAxX4_BG.XReportData";
inline constexpr const char16_t* ProgID_AdvLines = u"MiravokFPAxX4_BG.AdvLines";
inline constexpr const char16_t* ProgID_DepartTotals = u"MiravokFPAxX4_BG.DepartTotals";

enum class TInstancing : std::uint8_t { Single, Multiple };

// What the type library says of each coclass and its default interface.
struct TCoClassInfo {
  const char* Name;  // coclass name
  CLSID Clsid;
  IID Iid;  // default interface
  const char* InterfaceName;
  const char* Description;           // the coclass's description
  const char* InterfaceDescription;  // the default interface's description
  TInstancing Instancing;
  const char* ThreadingModel;
  const char* ProgID;  // library name, ".", coclass name
};

// In the order of the type library.
inline constexpr TCoClassInfo MiravokFPAxX4_BG_CoClasses[] = {
    {"MiravokFprn", CLSID_MiravokFprn, IMiravokFprn::Iid, "IMiravokFprn", "MiravokFPFprn Object",
     "Dispatch interface for MiravokEcrFprn Object", TInstancing::Multiple, "Apartment",
     "MiravokFPAxX4_BG.MiravokFprn"},
    {"BonData", CLSID_BonData, IBonData::Iid, "IBonData", "BonData Object", "Dispatch interface for BonData Object",
     TInstancing::Single, "Apartment", "MiravokFPAxX4_BG.BonData"},
    {"XReportData", CLSID_XReportData, IXReportData::Iid, "IXReportData", "XReportData Object",
     "Dispatch interface for XReportData Object", TInstancing::Multiple, "Apartment", "MiravokFPAxX4_BG.XReportData"},
    {"AdvLines", CLSID_AdvLines, IAdvLines::Iid, "IAdvLines", "AdvLines Object",
     "Dispatch interface for AdvLines Object", TInstancing::Multiple, "Apartment", "MiravokFPAxX4_BG.AdvLines"},
    {"DepartTotals", CLSID_DepartTotals, IDepartTotals::Iid, "IDepartTotals", "DepartTotals Object",
     "Dispatch interface for DepartTotals Object", TInstancing::Single, "Apartment", "MiravokFPAxX4_BG.DepartTotals"},
};

}  // namespace fp
