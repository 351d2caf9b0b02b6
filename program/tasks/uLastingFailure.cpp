#include "program/tasks/uLastingFailure.h"

#include <utility>

namespace fp {

TLastingFailure::TLastingFailure(std::function<int64_t()> MonotonicMs) : FMonotonicMs(std::move(MonotonicMs)) {}

QString TLastingFailure::EndLine(const QString& FirstLine, int64_t Seconds, int Tries, bool StillLasting) {
  // The first physical line of the failure names it (a printer's answer may hold several).
  const QString what = FirstLine.section(QLatin1Char('\r'), 0, 0).section(QLatin1Char('\n'), 0, 0);
  return QStringLiteral("[Execute] The failure %1 %2 s, %3 tries, its lines written once: %4")
      .arg(StillLasting ? QStringLiteral("lasts at the program's end after") : QStringLiteral("ended after"))
      .arg(Seconds)
      .arg(Tries)
      .arg(what);
}

QStringList TLastingFailure::EndAndForget(bool StillLasting) {
  QStringList out;
  if (FHeld > 0) out << EndLine(FFirstLine, (FMonotonicMs() - FStartMs) / 1000, FTries, StillLasting);
  FLines.clear();
  FFirstLine.clear();
  FTries = 0;
  FHeld = 0;
  return out;
}

QStringList TLastingFailure::Line(const QString& Line) {
  std::lock_guard<std::mutex> lock(FLock);
  const bool known = FLines.count(Line) > 0;
  QStringList out;
  if (FTryLines++ == 0 && !known && !FLines.empty()) out = EndAndForget(false);
  if (known) {
    ++FHeld;
    return out;
  }
  if (FLines.empty()) {
    FFirstLine = Line;
    FStartMs = FMonotonicMs();
  }
  FLines.insert(Line);
  out << Line;
  return out;
}

QStringList TLastingFailure::TryEnded(bool Failed, bool Answered) {
  std::lock_guard<std::mutex> lock(FLock);
  const bool wrote = FTryLines > 0;
  FTryLines = 0;
  if (Failed) {
    if (wrote || !FLines.empty()) ++FTries;
    return {};
  }
  // A try that never reached the printer (the folder held by another program) says
  // nothing about the failure.
  if (!Answered) return {};
  return EndAndForget(false);
}

QStringList TLastingFailure::Leave() {
  std::lock_guard<std::mutex> lock(FLock);
  return EndAndForget(true);
}

}  // namespace fp
