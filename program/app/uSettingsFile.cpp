#include "program/app/uSettingsFile.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <string>

#include "platform/IniFile.h"
#include "platform/Cp1251.h"

namespace fp {
namespace {

using uSettingsFile::MaxComPort;
using uSettingsFile::Parameters;
using uSettingsFile::PayTypes;

// Pay-type keys read at start: PayNo_0 to PayNo_12.
constexpr int kPayKeysRead = 13;

std::string PayKey(int n) { return "PayNo_" + std::to_string(n); }

QString ReadText(const TIniFile& ini, const char* key, const char* def) {
  return QString::fromStdString(ini.ReadString(Parameters, key, def));
}

void WriteText(TIniFile& ini, const char* key, const QString& value) {
  ini.WriteString(Parameters, key, value.toStdString());
}

}  // namespace

QString SettingsFilePath(const QString& appDir, const QString& programFile) {
  return appDir + QFileInfo(programFile).completeBaseName() + QStringLiteral(".ini");
}

QStringList LoadSettings(const QString& iniPath, TMainSettings& s, QString* writeError) {
  TIniFile ini(QFile::encodeName(iniPath).toStdString());
  const TMainSettings defaults;
  QStringList replaced;

  // The defaults written into the file; one that cannot be written is used from memory
  // (the start goes on) and its failure reported once.
  auto writeDefault = [&](auto&& write) {
    try {
      write();
    } catch (const EIniFileException& e) {
      if (writeError && writeError->isEmpty()) *writeError = QString::fromStdString(e.what());
    }
  };

  // The pay-type section always exists after a start.
  if (!ini.ValueExists(PayTypes, PayKey(0))) writeDefault([&] { ini.WriteInteger(PayTypes, PayKey(0), 0); });

  s.CheckPrnIntevalSec = ini.ReadInteger(Parameters, "CheckPrnIntevalSec", defaults.CheckPrnIntevalSec);
  s.SearchPath = ReadText(ini, "SearchPath", "");
  s.ComPort = ini.ReadInteger(Parameters, "ComPort", defaults.ComPort);
  // The worker takes the port in 8 bits: a number it cannot take would make every task
  // fail at its start.
  if (s.ComPort < 0 || s.ComPort > MaxComPort) {
    replaced << QStringLiteral("ComPort=%1 is out of range; COM%2 is used").arg(s.ComPort).arg(defaults.ComPort);
    s.ComPort = defaults.ComPort;
  }
  s.BaudRate = ini.ReadInteger(Parameters, "BaudRate", defaults.BaudRate);
  s.RepFilePrint = ini.ReadBool(Parameters, "RepFilePrint", defaults.RepFilePrint);
  s.RepDetailPrint = ini.ReadBool(Parameters, "RepDetailPrint", defaults.RepDetailPrint);
  s.CreateLOG = ini.ReadBool(Parameters, "CreateLOG", defaults.CreateLOG);
  uConst::SetCashierPas(ReadText(ini, "CashierPas", ""));
  s.CharEncoding = static_cast<uint8_t>(ini.ReadInteger(Parameters, "CharEncoding", 0) & 0xFF);
  s.DeviceSerialNom = ReadText(ini, "DeviceSerialNom", "");
  s.AutoSerachDevice = ini.ReadBool(Parameters, "AutoSerachDevice", defaults.AutoSerachDevice);
  uConst::SetBonFileExt(ReadText(ini, "BonFileExt", "bon"));
  uConst::SetUsePluAsDepartNo(ini.ReadBool(Parameters, "UsePluAsDepartNo", false));

  if (!ini.ValueExists(Parameters, "WatGrpBeginFromOne"))
    writeDefault([&] { ini.WriteBool(Parameters, "WatGrpBeginFromOne", false); });
  s.WatGrpBeginFromOne = ini.ReadBool(Parameters, "WatGrpBeginFromOne", false);

  if (s.CharEncoding > EncodingCP855) s.CharEncoding = 0;

  std::vector<TPayTypePair> pairs;
  if (ini.SectionExists(PayTypes)) {
    for (int n = 0; n < kPayKeysRead; ++n) {
      int32_t v = ini.ReadInteger(PayTypes, PayKey(n), 0);
      if (v > 0) pairs.push_back({n, v});
    }
  }
  uConst::SetPayTypePairs(pairs);
  return replaced;
}

void SaveSettings(const QString& iniPath, const TMainSettings& s) {
  TIniFile ini(QFile::encodeName(iniPath).toStdString());
  // All keys in one rewrite: a failure leaves the file as it was.
  ini.BeginUpdate();
  WriteText(ini, "SearchPath", s.SearchPath);
  ini.WriteInteger(Parameters, "ComPort", s.ComPort);
  ini.WriteInteger(Parameters, "BaudRate", s.BaudRate);
  ini.WriteBool(Parameters, "CreateLOG", s.CreateLOG);
  ini.WriteBool(Parameters, "RepFilePrint", s.RepFilePrint);
  ini.WriteBool(Parameters, "RepDetailPrint", s.RepDetailPrint);
  WriteText(ini, "CashierPas", uConst::CashierPas());
  ini.WriteInteger(Parameters, "CharEncoding", s.CharEncoding);
  WriteText(ini, "DeviceSerialNom", s.DeviceSerialNom);
  ini.WriteBool(Parameters, "AutoSerachDevice", s.AutoSerachDevice);
  WriteText(ini, "BonFileExt", uConst::BonFileExt());
  ini.WriteInteger(Parameters, "CheckPrnIntevalSec", s.CheckPrnIntevalSec);
  ini.WriteBool(Parameters, "UsePluAsDepartNo", uConst::UsePluAsDepartNo());
  ini.EraseSection(PayTypes);
  for (const auto& p : uConst::PayTypePairs()) ini.WriteInteger(PayTypes, PayKey(p.FilePayType), p.PrnPayType);
  ini.EndUpdate();
}

void ApplyCommandLine(const QStringList& args, TMainSettings& s) {
  if (!args.isEmpty()) {
    // The leading digits, counted up to a little above the highest port.
    int port = 0;
    for (QChar c : args[0]) {
      if (c < QLatin1Char('0') || c > QLatin1Char('9')) break;
      port = std::min(port * 10 + (c.unicode() - '0'), MaxComPort + 1);
    }
    if (port > 0 && port <= MaxComPort) s.ComPort = port;
  }
  if (args.size() >= 2 && QFileInfo(args[1]).isDir()) s.SearchPath = args[1];
}

}  // namespace fp
