#include "program/tasks/uLastingFailure.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace fp::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class LastingFailureTest : public ::testing::Test {
 protected:
  // One try: its exception-log lines, then its end; what was written, in order.
  QStringList Try(const QStringList& lines, bool failed, bool answered = true) {
    QStringList out;
    for (const QString& l : lines) out << FRecord.Line(l);
    out << FRecord.TryEnded(failed, answered);
    FNowMs += 6000;
    return out;
  }
  int64_t FNowMs = 1000;
  TLastingFailure FRecord{[this] { return FNowMs; }};
};

const QString kPaperA = QStringLiteral("[FastInit][Init failed]  No paper.  ");
const QString kPaperB = QStringLiteral("[Execute] [FastInit][Init failed]  No paper.  ");

// Paper out for four tries: its two lines once; the try that the printer answers again
// ends it with how long it lasted and how many tries it took.
TEST_F(LastingFailureTest, IsWrittenOnceWhenItStartsAndOnceWhenItEnds) {
  EXPECT_THAT(Try({kPaperA, kPaperB}, true), ElementsAre(kPaperA, kPaperB));
  for (int i = 0; i < 3; ++i) EXPECT_THAT(Try({kPaperA, kPaperB}, true), IsEmpty());
  // A try that never reached the printer (the folder held by another program) ends nothing.
  EXPECT_THAT(Try({}, false, false), IsEmpty());
  EXPECT_THAT(Try({}, false), ElementsAre("[Execute] The failure ended after 30 s, 4 tries, its lines written once: "
                                          "[FastInit][Init failed]  No paper.  "));
  // Over: the same failure again is written again.
  EXPECT_THAT(Try({kPaperA, kPaperB}, true), ElementsAre(kPaperA, kPaperB));
  // A failure of one try that the next ends needs no end line.
  EXPECT_THAT(Try({}, false), IsEmpty());
}

TEST_F(LastingFailureTest, AnotherFailureEndsTheOneThatLasted) {
  const QString off = QStringLiteral("[FastInit][Init failed] Fiscal printer does not respond. <01>\r\n[RETRY->]x");
  Try({kPaperA, kPaperB}, true);
  Try({kPaperA, kPaperB}, true);
  EXPECT_THAT(Try({off}, true), ElementsAre("[Execute] The failure ended after 12 s, 2 tries, its lines written once: "
                                            "[FastInit][Init failed]  No paper.  ",
                                            off));
  // A try that repeats the failure and adds a line: the new line is written, the failure
  // goes on.
  const QString file = QStringLiteral("[DoReadFiles]Read file 0002.bon failed");
  EXPECT_THAT(Try({off, file}, true), ElementsAre(file));
  EXPECT_THAT(Try({off, file}, true), IsEmpty());
  // The program ends while it lasts; its first physical line names it.
  EXPECT_THAT(FRecord.Leave(),
              ElementsAre("[Execute] The failure lasts at the program's end after 18 s, 3 tries, its "
                          "lines written once: [FastInit][Init failed] Fiscal printer does not respond. "
                          "<01>"));
  EXPECT_THAT(FRecord.Leave(), IsEmpty());
}

}  // namespace
}  // namespace fp::test
