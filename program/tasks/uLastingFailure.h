#pragma once
// The exception log of the printer jobs while a failure lasts. With the printer off or
// out of paper every try (each tick of the file timer with a receipt waiting, each printer
// check) fails the same way and would write the same lines again, a few every second. A
// failure is written whole at its first try; at the tries that repeat it its lines are
// held back; when it ends (a try that the printer answered without a failure, another
// failure, the program's end) one line says how long it lasted and how many tries it took.
// Lines that are new are always written.
//
// The task runner owns one and hands it to every worker (one job runs at a time); the
// calls are safe from any thread.
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <mutex>
#include <set>

namespace fp {

class TLastingFailure {
 public:
  // MonotonicMs: the clock of the durations (one that never jumps).
  explicit TLastingFailure(std::function<int64_t()> MonotonicMs);

  // A job's exception-log line: the lines to write for it. The line itself, unless it
  // repeats a line of the failure that lasts; when the first line of a try is not one of
  // them, another failure begins and the end of the one that lasted comes first.
  QStringList Line(const QString& Line);
  // A job ended (Failed: with a failure; Answered: the printer answered it). The lines to
  // write: the end of a failure whose lines were held back, once the printer answered a
  // try without a failure.
  QStringList TryEnded(bool Failed, bool Answered);
  // At the program's end: the line of a failure that still lasts, when lines were held back.
  QStringList Leave();

  // The line that tells a lasting failure's end (or that it lasts at the program's end).
  static QString EndLine(const QString& FirstLine, int64_t Seconds, int Tries, bool StillLasting);

 private:
  QStringList EndAndForget(bool StillLasting);

  std::function<int64_t()> FMonotonicMs;
  std::mutex FLock;
  // The failure that lasts: its lines, the first of them, when it began, its failed tries
  // and how many lines were held back.
  std::set<QString> FLines;
  QString FFirstLine;
  int64_t FStartMs = 0;
  int FTries = 0;
  int FHeld = 0;
  // Lines of the running try so far.
  int FTryLines = 0;
};

}  // namespace fp
