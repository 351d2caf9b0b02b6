#pragma once
// Whole-file reads and writes for tests, through Qt.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QString>

namespace fp::test {

// The file's bytes; empty when it cannot be read.
inline QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Replaces the file's content with `data`.
inline void WriteAll(const QString& path, const QByteArray& data) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
  ASSERT_EQ(f.write(data), data.size()) << path.toStdString();
}

}  // namespace fp::test
