#include "filedriver/uConst.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/Cp1251.h"
#include "platform/FileOps.h"
#include "platform/SysErrorText.h"
#include "platform/PathNames.h"

namespace fp::uConst {

const std::array<uint8_t, 128> CP855ToCP1251 = {
    0x90, 0x80, 0x83, 0x81, 0xB8, 0xA8, 0xBA, 0xAA, 0xBE, 0xBD, 0xB3, 0xB2, 0xBF, 0xAF, 0xBC, 0xA3,
    0x9A, 0x8A, 0x9C, 0x8C, 0x9E, 0x8E, 0x9D, 0x8D, 0xA2, 0xA1, 0x9F, 0x8F, 0xFE, 0xDE, 0xFA, 0xDA,
    0xE0, 0xC0, 0xE1, 0xC1, 0xF6, 0xD6, 0xE4, 0xC4, 0xE5, 0xC5, 0xF4, 0xD4, 0xE3, 0xC3, 0xAB, 0xBB,
    0x00, 0x00, 0x00, 0x00, 0x00, 0xF5, 0xD5, 0xE8, 0xC8, 0x00, 0x00, 0x00, 0x00, 0xE9, 0xC9, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xEA, 0xCA, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA4,
    0xEB, 0xCB, 0xEC, 0xCC, 0xED, 0xCD, 0xEE, 0xCE, 0xEF, 0x00, 0x00, 0x00, 0x00, 0xCF, 0xFF, 0x00,
    0xDF, 0xF0, 0xD0, 0xF1, 0xD1, 0xF2, 0xD2, 0xF3, 0xD3, 0xE6, 0xC6, 0xE2, 0xC2, 0xFC, 0xDC, 0xB9,
    0xAD, 0xFB, 0xDB, 0xE7, 0xC7, 0xF8, 0xD8, 0xFD, 0xDD, 0xF9, 0xD9, 0xF7, 0xD7, 0xA7, 0x00, 0xA0,
};

const std::array<uint8_t, 128> CP866ToCP1251 = {
    0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF,
    0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF,
    0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF,
    0xA8, 0xB8, 0xAA, 0xBA, 0xAF, 0xBF, 0xA1, 0xA2, 0xB0, 0x00, 0xB7, 0x00, 0xB9, 0xA4, 0x00, 0xA0,
};

namespace {

struct Globals {
  std::mutex mutex;
  QString appDir;
  QString cashierPas;
  std::vector<TPayTypePair> payTypePairs;
  QString bonFileExt;
  bool usePluAsDepartNo = false;
};

Globals& G() {
  static Globals g;
  return g;
}

template <typename T>
T Get(T Globals::*field) {
  std::lock_guard<std::mutex> lock(G().mutex);
  return G().*field;
}

template <typename T>
void Set(T Globals::*field, const T& value) {
  T copy = value;  // built outside the lock; the old value is released outside it too
  {
    std::lock_guard<std::mutex> lock(G().mutex);
    std::swap(G().*field, copy);
  }
}

bool IsDir(IFileOps& ops, const std::string& path) {
  struct stat st {};
  return ops.Stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Limit of a log file: more than 500 whole blocks of 128 bytes.
bool OverLimit(off_t size) { return size / 128 > 500; }

}  // namespace

QString AppDir() { return Get(&Globals::appDir); }
void SetAppDir(const QString& dir) { Set(&Globals::appDir, dir); }
QString CashierPas() { return Get(&Globals::cashierPas); }
void SetCashierPas(const QString& password) { Set(&Globals::cashierPas, password); }
std::vector<TPayTypePair> PayTypePairs() { return Get(&Globals::payTypePairs); }
void SetPayTypePairs(const std::vector<TPayTypePair>& pairs) { Set(&Globals::payTypePairs, pairs); }
QString BonFileExt() { return Get(&Globals::bonFileExt); }
void SetBonFileExt(const QString& ext) { Set(&Globals::bonFileExt, ext); }
bool UsePluAsDepartNo() { return Get(&Globals::usePluAsDepartNo); }
void SetUsePluAsDepartNo(bool on) { Set(&Globals::usePluAsDepartNo, on); }

std::recursive_mutex& LogLock() {
  static std::recursive_mutex lock;
  return lock;
}

QString FromCp1251(std::string_view text) { return QString::fromStdString(Cp1251ToUtf8(text)); }
std::string ToCp1251(const QString& text) { return Utf8ToCp1251(text.toStdString()); }

void WriteLog(const QString& folder, const QString& message, bool exceptionLog, const TLogClock& clock) {
  std::lock_guard<std::recursive_mutex> lock(LogLock());
  if (folder.isEmpty()) return;
  IFileOps& ops = FileOps();

  std::string dir = QFile::encodeName(folder).toStdString();
  std::string bare = dir;
  while (bare.size() > 1 && bare.back() == '/') bare.pop_back();
  if (!IsDir(ops, bare)) {
    // One level only: the parent must exist.
    if (ops.Mkdir(bare.c_str(), 0755) != 0 && !IsDir(ops, bare)) throw std::runtime_error(LogDirError);
  }

  const std::string file = WithSlash(dir) + (exceptionLog ? ExceptionLogName : NormalLogName);
  const int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC;
  int fd = ops.Open(file.c_str(), flags, 0644);
  if (fd < 0) return;

  const QDateTime now = clock ? clock() : QDateTime::currentDateTime();
  struct stat st {};
  if (ops.Fstat(fd, &st) == 0 && OverLimit(st.st_size)) {
    ops.Close(fd);
    // The rotated name never replaces an existing file: a second rotation within the
    // same second fails, the line is lost and the next line tries again.
    const std::string rotated = WithSlash(dir) + (exceptionLog ? "Exc_" : "Log_") +
                                now.toString(QStringLiteral("dd-MM-yy_hh-mm-ss")).toStdString() + ".txt";
    if (ops.RenameNoReplace(file.c_str(), rotated.c_str()) != 0) return;
    fd = ops.Open(file.c_str(), flags, 0644);
    if (fd < 0) return;
  }

  std::string line = now.toString(QStringLiteral("dd.MM.yy hh:mm:ss:zzz")).toStdString();
  line += " - ";
  line += ToCp1251(message);
  line += "\r\n";
  WriteAll(ops, fd, line);
  ops.Close(fd);
}

uint32_t DosDateTime(const QDateTime& local) {
  const QDate d = local.date();
  const QTime t = local.time();
  if (d.year() < 1980) return (1u << 21) | (1u << 16);
  if (d.year() > 2107) return (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u;
  uint32_t date = (static_cast<uint32_t>(d.year() - 1980) << 9) | (static_cast<uint32_t>(d.month()) << 5) |
                  static_cast<uint32_t>(d.day());
  uint32_t time = (static_cast<uint32_t>(t.hour()) << 11) | (static_cast<uint32_t>(t.minute()) << 5) |
                  static_cast<uint32_t>(t.second() / 2);
  return (date << 16) | time;
}

std::string OemToAnsiStr(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    auto b = static_cast<uint8_t>(c);
    if (b >= 0x80) c = static_cast<char>(CP866ToCP1251[b - 0x80]);
  }
  return out;
}

std::string ConvertCharEncoding(std::string_view line, uint8_t code) {
  if (code == EncodingOEM) return OemToAnsiStr(line);
  std::string out(line);
  if (code == EncodingCP855) {
    for (char& c : out) {
      auto b = static_cast<uint8_t>(c);
      if (b >= 0x80) c = static_cast<char>(CP855ToCP1251[b - 0x80]);
    }
  }
  return out;
}

bool CanWriteToDir(const QString& folder) {
  IFileOps& ops = FileOps();
  const std::string path = QFile::encodeName(folder + QStringLiteral("chktmp.txt")).toStdString();
  int fd = ops.Open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  struct stat st {};
  bool exists = ops.Stat(path.c_str(), &st) == 0;
  ops.Close(fd);
  ops.Unlink(path.c_str());
  return exists;
}

int ReplaceFile(const QString& path, const std::string& data) {
  static std::atomic<unsigned> counter{0};
  IFileOps& ops = FileOps();
  const std::string target = QFile::encodeName(path).toStdString();
  const size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  const std::string temp =
      dir + "." + base + "." + std::to_string(::getpid()) + "." + std::to_string(counter.fetch_add(1)) + ".tmp";
  const int fd = ops.Open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return errno != 0 ? errno : EIO;
  int err = 0;
  if (!WriteAll(ops, fd, data) || ops.Fsync(fd) != 0) err = errno != 0 ? errno : EIO;
  if (ops.Close(fd) != 0 && err == 0) err = errno != 0 ? errno : EIO;
  if (err == 0 && ops.Rename(temp.c_str(), target.c_str()) != 0) err = errno != 0 ? errno : EIO;
  if (err != 0) ops.Unlink(temp.c_str());
  return err;
}

QString GetFileVersion() {
#ifdef FP_PROGRAM_VERSION
  return QStringLiteral(FP_PROGRAM_VERSION);
#else
  return {};
#endif
}

QString ProgramFilePath() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return QFile::decodeName(QByteArray(buf, static_cast<qsizetype>(n)));
}

}  // namespace fp::uConst
