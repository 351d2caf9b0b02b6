#pragma once
// Test support of the receipt-file reader: a reader bound to a fake automation object, a
// temporary receipt folder, and helpers that write a receipt file and read it back.
#include "program/receipts/uECRFileReader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/FakeFprn.h"
#include "program/app/uConst.h"

namespace fp::test {

class ReaderFixture : public ::testing::Test {
 protected:
  ReaderFixture() {
    FReader.SetClock([] { return Now(); });
    FReader.SetFileVersion([] { return QStringLiteral("1.0.0.7"); });
  }

  // The reader's clock.
  static QDateTime Now() { return QDateTime(QDate(2025, 3, 14), QTime(15, 9, 26)); }

  // The path of a file of the temporary folder.
  QString PathOf(const QString& name) const { return FDir.path() + QLatin1Char('/') + name; }

  // Writes the bytes as the file.
  void WriteBytes(const QString& name, const std::string& bytes) {
    QFile f(PathOf(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
  }

  // Writes the lines as the claimed receipt file 0001.$$$ (CR LF) and reads it.
  bool Read(const std::vector<std::string>& lines, uint8_t encoding = 0) {
    std::string text;
    for (const auto& l : lines) text += l + "\r\n";
    WriteBytes(QStringLiteral("0001.$$$"), text);
    return FReader.ReadFile(PathOf(QStringLiteral("0001.$$$")), encoding);
  }

  // The command i of the list as T (null when it is not one).
  template <class T>
  const T* Cmd(size_t i) const {
    return i < FReader.Commands().size() ? std::get_if<T>(&FReader.Commands()[i]) : nullptr;
  }

  // The lines of a file written by the reader (CR LF expected between them).
  std::string FileBytes(const QString& name) const {
    QFile f(PathOf(name));
    if (!f.open(QIODevice::ReadOnly)) return "<missing>";
    return f.readAll().toStdString();
  }

  QTemporaryDir FDir;
  ComPtr<TFakeFprn> FFake = TFakeFprn::Make();
  TECRFileReader FReader{FFake->Factory()};
};

// The reader's failure text of a line: what ReadFile keeps in LastError.
inline std::string ReadError(const std::string& message, const std::string& row) {
  return "[ReadFile]" + message + ". Row data:" + row;
}

}  // namespace fp::test
