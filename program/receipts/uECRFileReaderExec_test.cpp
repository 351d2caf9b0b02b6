// Performing receipt files on the automation object: the call sequence and the report file.
#include "tests/support/uECRFileReaderTestSupport.h"

namespace fp::test {
namespace {

using Lines = std::vector<std::string>;

class Exec : public ReaderFixture {
 protected:
  // Connects as a job does, reads the file and prints it; the journal then holds only the
  // calls of the printing.
  bool Print(const Lines& lines, bool details = true) {
    FReader.SetRepFilePrint(true);
    FReader.SetRepDetailPrint(details);
    EXPECT_TRUE(FReader.FastInit(false, "")) << FReader.LastError();
    EXPECT_TRUE(Read(lines)) << FReader.LastError();
    FFake->Calls.clear();
    return FReader.PrintPluList();
  }
  std::string Log() const {
    QFile f(FDir.path() + "/Log/DriverFiscalPrinterX4_Log.txt");
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
  }
  void UseLog() { FReader.SetLogDir(FDir.path() + "/Log/"); }
};

const Lines kFiscal = {"@010012Ivan", "#UUNQ-1", "0012Water       0000015000002000", "%13^Bread^120^1000^1", "#P-1000",
                       ":Thank you",  "#E1^2.00"};

TEST_F(Exec, FiscalReceiptWithDetails) {
  FFake->Plus[12] = {2, 200, 1.49, "WATER       "};  // one cent off, article group above 127
  FFake->Plus[13] = {2, 1, 1.20, "Bread"};
  ASSERT_TRUE(Print(kFiscal)) << FReader.LastError();
  EXPECT_EQ(FFake->Calls, (Lines{"GetPLUData(12)",
                                 "SetPluData(12, 2, 200, 1.5, Water       )",
                                 "GetPLUData(13)",
                                 "GetRecieptStatus()",
                                 "GetNextInvoiceNumber()",
                                 "AddUniqueSellNom(UNQ-1)",
                                 "StartBon(2, 1, 1, Ivan, , 12, , , , , , , , )",
                                 "AddProgPlu(12, 1, 2, 1.5, 2)",
                                 "GetRecieptStatus()",
                                 "AddProgPlu(13, 1, 1, 1.2, 2)",
                                 "GetRecieptStatus()",
                                 "AddDiscount(1, -10)",
                                 "GetRecieptStatus()",
                                 "AddLine(Thank you, , 0)",
                                 "AddPayment(1, , 2, 1)",
                                 "GetRecieptStatus()",
                                 "GetRecieptStatus()",
                                 "AddPayment(1, , 2.08, 1)",
                                 "GetRecieptStatus()",
                                 "EndBon()",
                                 "GetRecieptStatus()",
                                 "LastUniqueSellNo()"}));
  const Lines rep = {"No Bon:42",
                     "Unique sell num: UNQ-1",
                     "No Ecr:ZK000001",
                     "No MFP:02000001",
                     "No Inv:0000000101",
                     "@010012Ivan",
                     "#UUNQ-1",
                     "0012Water       0000015000002000",
                     "Total:3.00",
                     "%13^Bread^120^1000^1",
                     "Total:4.20",
                     "#P-1000",
                     "Total:4.08",
                     ":Thank you",
                     "#E1^2.00",
                     "Total:4.08",
                     "Amount autopaid : 2.08 Before close - Total:0000004.08 EcrTotal:0000004.08 "
                     "Difference:000000.00%",
                     "Close"};
  EXPECT_EQ(FReader.RepLines(), rep);
  FReader.SaveRepFile();
  std::string bytes;
  for (const auto& l : rep) bytes += l + "\r\n";
  EXPECT_EQ(FileBytes("0001.rep"), bytes);
}

// The library keeps a given sale number for a retry when the opening failed unsent; a file
// that failed takes its number back, so that the next file's receipt never carries it.
TEST_F(Exec, FailedFileTakesBackItsSaleNumber) {
  FFake->Plus[12] = {2, 1, 1.50, "Water       "};
  FFake->Plus[13] = {2, 1, 1.20, "Bread"};
  FFake->Fail("StartBon", 210, "[StartBon] No paper ");
  ASSERT_FALSE(Print(kFiscal, false));
  const Lines names = FFake->Names();
  ASSERT_GE(names.size(), 2u);
  EXPECT_EQ(Lines(names.end() - 2, names.end()), (Lines{"StartBon", "AddUniqueSellNom"}));
  EXPECT_EQ(FFake->Calls.back(), "AddUniqueSellNom()");

  // A file without a number asks for none.
  Lines noNumber = kFiscal;
  noNumber.erase(noNumber.begin() + 1);
  ASSERT_FALSE(Print(noNumber, false) && false);
  for (const auto& call : FFake->Calls) EXPECT_NE(call.rfind("AddUniqueSellNom", 0), 0u) << call;
}

TEST_F(Exec, FiscalReceiptWithoutDetails) {
  FFake->Plus[12] = {2, 1, 1.50, "Water       "};
  FFake->Plus[13] = {2, 1, 1.20, "bread"};
  ASSERT_TRUE(Print(kFiscal, false)) << FReader.LastError();
  EXPECT_EQ(FFake->Names(), (Lines{"GetPLUData", "GetPLUData", "AddUniqueSellNom", "StartBon", "AddProgPlu",
                                   "AddProgPlu", "AddDiscount", "AddLine", "AddPayment", "GetRecieptStatus",
                                   "AddPayment", "EndBon", "LastUniqueSellNo"}));
  EXPECT_EQ(FReader.RepLines(), (Lines{"@010012Ivan", "#UUNQ-1", "0012Water       0000015000002000",
                                       "%13^Bread^120^1000^1", "#P-1000", ":Thank you", "#E1^2.00", "Close"}));
}

TEST_F(Exec, Invoices) {
  struct {
    Lines file;
    bool details;
    std::string startBon, rawLines;
  } cases[] = {
      {{"#F77", "#:note", "#:Receiver", "#:ACME Ltd", "#:Street 1", "#:123456789", "#:BG123456789",
        "%1^Item^1000^1000"},
       false,
       "StartBon(4, 1, 1, , , 1, 77, 123456789, BG123456789, ACME Ltd, , Street 1, , Receiver)",
       "\r#LR77\r:Receiver\r:ACME Ltd\r:Street 1\r#LN123456789\r#LDBG123456789"},
      {{"#F", ":ACME", ":Sofia", ":Main 5", ":Ivanov", ":Petrov", "%1^Item^1000^1000"},
       true,
       "StartBon(4, 1, 1, , , 1, 101, , , ACME, Sofia, Main 5, Ivanov, Petrov)",
       "\r:ACME\r:Sofia\r:Main 5\r:Ivanov\r:Petrov"},
      {{"#LD1", "%1^Item^1000^1000"}, false, "StartBon(4, 1, 1, , , 1, 0, , 1, , , , , )", "\r#LD1"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.startBon);
    FFake->Plus[1] = {2, 1, 10, "Item"};
    ASSERT_TRUE(Print(c.file, c.details)) << FReader.LastError();
    const Lines& calls = FFake->Calls;
    EXPECT_NE(std::find(calls.begin(), calls.end(), c.startBon), calls.end());
    auto f = std::find(FReader.RepLines().begin(), FReader.RepLines().end(), "#F");
    ASSERT_NE(f, FReader.RepLines().end());
    ASSERT_NE(f + 1, FReader.RepLines().end());
    EXPECT_EQ(*(f + 1), c.rawLines);
  }
}

TEST_F(Exec, Refunds) {
  struct {
    Lines file;
    Lines calls;  // the refund data and the opening
    std::string repLine;
  } cases[] = {
      {{"#Q1,15,2", "%1^Item^1000^1000", "#E1^10"},
       {"SetRefundParams(2, 1, 15, , )", "StartBon(5, 1, 1, , , 1, , , , , , , , )"},
       "#Q1,15,2,"},
      {{"#Q2,15,2,0000000042,01.02.2025", "#LR5", "%1^Item^1000^1000"},
       {"SetRefundParams(2, 2, 15, 01.02.2025, 0000000042)", "StartBon(6, 1, 1, , , 1, 5, , , , , , , )"},
       "#Q2,15,2,,0000000042,01.02.2025"},
      {{"#Q1,0", "%1^Item^1000^1000"}, {"StartBon(2, 1, 1, , , 1, , , , , , , , )"}, ""},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.file[0]);
    FFake->Plus[1] = {2, 1, 10, "Item"};
    ASSERT_TRUE(Print(c.file, false)) << FReader.LastError();
    Lines opening;
    for (const auto& call : FFake->Calls)
      if (call.rfind("SetRefundParams", 0) == 0 || call.rfind("StartBon", 0) == 0) opening.push_back(call);
    EXPECT_EQ(opening, c.calls);
    const auto& rep = FReader.RepLines();
    const bool echoed = std::find(rep.begin(), rep.end(), c.repLine) != rep.end();
    EXPECT_EQ(echoed, !c.repLine.empty());
  }
}

TEST_F(Exec, RefundTakesCashOnly) {
  FReader.SetPayTypePairs({{1, 2}});
  FFake->Plus[1] = {2, 1, 10, "Item"};
  ASSERT_FALSE(Print({"#Q1,15,2", "%1^Item^1000^1000", "#E2^10"}));
  EXPECT_EQ(FReader.LastError(), "[PrintPluList]Refund is possible only for pay in cash.");
  EXPECT_TRUE(FFake->Calls.empty());
  // Pay type 1 is never replaced, whatever the pairs say.
  ASSERT_TRUE(Print({"#Q1,15,2", "%1^Item^1000^1000", "#E1^10"}, false)) << FReader.LastError();
  EXPECT_NE(std::find(FFake->Calls.begin(), FFake->Calls.end(), "AddPayment(1, , 10, 1)"), FFake->Calls.end());
}

TEST_F(Exec, NonFiscalReceiptKeepsNoForeignSaleNumber) {
  FFake->LastUnique = "PREV-1";  // the number of the fiscal receipt before
  ASSERT_TRUE(Print({":Hello", "#:World"})) << FReader.LastError();
  EXPECT_EQ(FFake->Calls,
            (Lines{"GetRecieptStatus()", "StartBon(1, 1, 1, , , 1, , , , , , , , )", "AddLine(Hello, , 0)",
                   "AddLine(:World, , 0)", "EndBon()", "GetRecieptStatus()", "LastUniqueSellNo()"}));
  EXPECT_EQ(FReader.RepLines(),
            (Lines{"No Bon:42", "No Ecr:ZK000001", "No MFP:02000001", "No Inv:0", ":Hello", "#:World", "Close"}));
}

TEST_F(Exec, ReportFilesOpenNoReceipt) {
  struct {
    Lines file;
    Lines calls;
  } cases[] = {
      {{"#I", ":text"}, {"RunXReport()", "AddLine(text, , 0)"}},
      {{"$FI", ":text"},
       {"GetRecieptStatus()", "StartBon(1, 1, 1, , , 1, , , , , , , , )", "RunXReport()", "AddLine(text, , 0)",
        "EndBon()", "LastUniqueSellNo()"}},
      {{"#N"}, {"RunZReport()"}},
      {{"#M1010124311224"}, {"RunFMDateReport(-685193, -684828, 0)"}},
      {{"#R-20.00", "C"}, {"InOutMoney(-20, 1)"}},
      {{"$FC"}, {"CopyLastBon()"}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.file[0]);
    ASSERT_TRUE(Print(c.file, false)) << FReader.LastError();
    EXPECT_EQ(FFake->Calls, c.calls);
  }
}

TEST_F(Exec, StatusQuery) {
  FReader.SetRepFilePrint(false);
  ASSERT_TRUE(FReader.FastInit(false, ""));
  ASSERT_TRUE(Read({"&S"}));
  FFake->Calls.clear();
  FFake->Serial = "ZK999999";
  FFake->Clock = static_cast<DATE>(QDate(1899, 12, 30).daysTo(QDate(2026, 12, 8))) + 0.5;
  ASSERT_TRUE(FReader.PrintPluList()) << FReader.LastError();
  EXPECT_EQ(FFake->Calls, (Lines{"GetHardwareStatus()", "GetFiscalNumber()", "GetSerialNumber()", "GetClock()"}));
  const Lines rep = {"Printer serial: ZK999999", "Printer fiscal nom: 02000001", "Printer date: 08122026120000"};
  EXPECT_EQ(FReader.RepLines(), rep);
  EXPECT_EQ(FReader.SerialNo(), "ZK999999");
  FReader.SaveRepFile();  // written although report files are off
  EXPECT_EQ(FileBytes("0001.rep"), rep[0] + "\r\n" + rep[1] + "\r\n" + rep[2] + "\r\n");

  FFake->HardwareStatus = "Paper out";
  for (bool repFiles : {false, true}) {
    FReader.SetRepFilePrint(repFiles);
    ASSERT_TRUE(Read({"&S"}));
    ASSERT_FALSE(FReader.PrintPluList());
    EXPECT_EQ(FReader.LastError(), "[PrintPluList][PrintStatusObj]Paper out");
    EXPECT_EQ(FReader.RepLines(), repFiles ? Lines{"[ERROR][PrintStatusObj]Paper out"} : Lines{});
  }
}

TEST_F(Exec, FailureInTheMiddle) {
  struct {
    bool details;
    std::string failing;
    int nth;
    std::string text;  // what reaches the report file after "[ERROR]"
    Lines tail;        // the last calls
  } cases[] = {
      {false, "AddPLU", 1, "[PrintPlu][AddPLU failed] Paper out ", {"StartBon", "AddPLU"}},
      {true, "AddPLU", 1, "[PrintPlu][AddPLU failed] Paper out ", {"StartBon", "AddPLU"}},
      {true,
       "GetRecieptStatus",
       2,
       "[PrintPlu][AddREP_AddInfo][AddPLU failed] Paper out ",
       {"AddPLU", "GetRecieptStatus"}},
      {false, "StartBon", 1, "[OpenReceipt][AddPLU failed] Paper out ", {"SetPluData", "StartBon"}},
      {false, "GetPLUData", 1, "[FUpdatePluDataInPrinter][AddPLU failed] Paper out ", {"GetPLUData"}},
      {false, "EndBon", 1, "[CloseReciept][AddPLU failed] Paper out ", {"GetRecieptStatus", "EndBon"}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.failing + (c.details ? " with details" : ""));
    FFake->Plus[12] = {2, 1, 1.5, "Water       "};
    FFake->Fail(c.failing, 206, "[AddPLU failed] Paper out ", c.nth);
    ASSERT_FALSE(
        Print({"0012Water       0000000000001000", "0012Water       0000015000001000", "#E1^1.50"}, c.details));
    EXPECT_EQ(FReader.LastError(), "[PrintPluList]" + c.text);
    EXPECT_EQ(FReader.RepLines().back(), "[ERROR]" + c.text);
    EXPECT_EQ(FReader.GetLastErrorCode(), 206);
    const Lines names = FFake->Names();
    ASSERT_GE(names.size(), c.tail.size());
    EXPECT_EQ(Lines(names.end() - static_cast<ptrdiff_t>(c.tail.size()), names.end()), c.tail);
    EXPECT_EQ(std::count(names.begin(), names.end(), "EndBon"), c.failing == "EndBon" ? 1 : 0);
  }
}

TEST_F(Exec, ComLevelFailureCarriesTheRuntimeText) {
  FFake->FailCom("AddLine", E_FAIL, u"Access violation");
  ASSERT_FALSE(Print({":Hello"}, false));
  EXPECT_EQ(FReader.LastError(), "[PrintPluList][PrintLine]Access violation");
}

TEST_F(Exec, AutomaticPaymentOfTheRest) {
  UseLog();
  // No payment at all: the whole total goes to the first pay type a PLU line named.
  ASSERT_TRUE(Print({"0012Water       00000150000020003xx003", "0013Bread       00000100000010003xx004"}, false))
      << FReader.LastError();
  EXPECT_EQ(FFake->Calls[FFake->Calls.size() - 3], "AddPayment(3, , 4, 1)");
  EXPECT_NE(Log().find("Not payments found."), std::string::npos);
  EXPECT_NE(Log().find("Amount autopaid : 4.00"), std::string::npos);

  // Sums that only differ by floating-point noise are paid: no second payment.
  FFake->Plus[1] = {2, 1, 0.10, "A"};
  FFake->Plus[2] = {2, 1, 0.20, "B"};
  ASSERT_TRUE(Print({"%1^A^10^1000", "%2^B^20^1000", "#E1^0.30"})) << FReader.LastError();
  EXPECT_EQ(std::count(FFake->Calls.begin(), FFake->Calls.end(), "AddPayment(1, , 0.3, 1)"), 1);
  EXPECT_EQ(std::count_if(FFake->Calls.begin(), FFake->Calls.end(),
                          [](const std::string& c) { return c.rfind("AddPayment", 0) == 0; }),
            1);
  EXPECT_EQ(FReader.RepLines()[FReader.RepLines().size() - 2],
            " Before close - Total:0000000.30 EcrTotal:0000000.30 Difference:000000.00%");
}

TEST_F(Exec, BeforeCloseLineWithoutStatusIsSkipped) {
  UseLog();
  FFake->Plus[1] = {2, 1, 10, "Item"};
  // The status reads: opening, after the sale, after the payment, the rest, before close.
  FFake->Fail("GetRecieptStatus", 101, "[GetRecieptStatus failed] COM port is not active ", 5);
  ASSERT_TRUE(Print({"%1^Item^1000^1000", "#E1^10"})) << FReader.LastError();
  EXPECT_EQ(FFake->Names().back(), "LastUniqueSellNo");
  EXPECT_EQ(FReader.RepLines().back(), "Close");
  for (const auto& l : FReader.RepLines()) EXPECT_EQ(l.find("Before close"), std::string::npos) << l;
  EXPECT_NE(Log().find("Before close line skipped: [GetRecieptStatus failed] COM port is not active"),
            std::string::npos);
}

TEST_F(Exec, ReprogrammingArticles) {
  struct {
    TFakeFprn::TPlu printer;
    const char* line;     // plain texts: GCC 12 at -O3 warns falsely about destroying this table
    const char* setCall;  // empty: not reprogrammed
  } cases[] = {
      {{2, 1, 1.50, "Water"}, "%12^Water^150^1000", ""},
      {{2, 1, 1.50, "WATER"}, "%12^Water^150^1000", ""},
      {{2, 1, 1.50, "\xC2\xCE\xC4\xC0"}, "%12^\xE2\xEE\xE4\xE0^150^1000", ""},
      {{2, 1, 1.504, "Water"}, "%12^Water^150^1000", ""},
      {{2, 1, 1.49, "Water"}, "%12^Water^150^1000", "SetPluData(12, 2, 1, 1.5, Water)"},
      {{3, 1, 1.50, "Water"}, "%12^Water^150^1000", "SetPluData(12, 2, 1, 1.5, Water)"},
      {{2, 255, 1.50, "Water"}, "%12^Water^150^1000^2", "SetPluData(12, 3, 255, 1.5, Water)"},
      {{2, 300, 1.50, "Water"}, "%12^Water^150^1000^2", "SetPluData(12, 3, 44, 1.5, Water)"},
      {{2, 1, 1.50, "Water"}, "0012Water       0000015000001000", "SetPluData(12, 2, 1, 1.5, Water       )"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.line + (" / " + c.printer.Name));
    FFake->Plus.clear();
    FFake->Plus[12] = c.printer;
    ASSERT_TRUE(Print({c.line}, false)) << FReader.LastError();
    EXPECT_EQ(FFake->Calls[0], "GetPLUData(12)");
    if (*c.setCall == '\0') {
      EXPECT_EQ(FFake->Names()[1], "StartBon");
    } else {
      EXPECT_EQ(FFake->Calls[1], c.setCall);
    }
  }
  // Numbers out of range are not looked up.
  UseLog();
  ASSERT_TRUE(Print({"%40000^Water^150^1000", "%0^Zero^150^1000"}, false));
  EXPECT_EQ(FFake->Names()[0], "StartBon");
  EXPECT_NE(Log().find("[Info]Cant' program plu in printer. Plu \"Water\" has invalid number."), std::string::npos);
}

TEST_F(Exec, ArticleTheReadDidNotFindIsProgrammedOtherReadFailuresEndTheFile) {
  struct {
    int32_t code;
    const char* message;
    bool programmed;
  } cases[] = {
      {203, "[GetPLUData failed] Received an error message from the printer. #F", true},
      {203, "[GetPLUData failed] Received an error message from the printer. #E", false},
      {102, "[GetPLUData failed] No answer from the printer. #F", false},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.message);
    FFake->Plus.clear();
    FFake->Calls.clear();
    FFake->Fail("GetPLUData", c.code, c.message);
    EXPECT_EQ(Print({"%12^Water^150^1000"}, false), c.programmed) << FReader.LastError();
    EXPECT_EQ(FFake->Calls[0], "GetPLUData(12)");
    if (c.programmed) {
      EXPECT_EQ(FFake->Calls[1], "SetPluData(12, 2, 1, 1.5, Water)");
    } else {
      EXPECT_THAT(FFake->Names(), ::testing::Not(::testing::Contains("SetPluData")));
      EXPECT_THAT(FFake->Names(), ::testing::Not(::testing::Contains("StartBon")));
    }
  }
}

TEST_F(Exec, SellingMethods) {
  struct {
    bool pluAsDepartment;
    std::string line;
    std::string call;
  } cases[] = {
      {false, "0012Water       0000015000001000", "AddProgPlu(12, 1, 1, 1.5, 2)"},
      {false, "0012Water       0000000000001000", "AddPLU(0012, Water       , 0, 1, 2)"},
      {false, "0012Water       00000150000010001xxxx", "AddPLU(0012, Water       , 1.5, 1, 2)"},
      {false, "0012Water       00000150000010001xx05", "AddProgPlu(12, 6, 1, 1.5, 2)"},
      {false, "%40000^Water^150^1000", "AddPLU(, Water, 1.5, 1, 2)"},
      {true, "0012Water       0000015000001000", "AddDeprtPlu(0012, Water       , 12, 1.5, 1, 2)"},
      {true, "%7^Water^150^1000", "AddDeprtPlu(7, Water, 7, 1.5, 1, 2)"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.line);
    FReader.SetUsePluAsDepartNo(c.pluAsDepartment);
    FFake->Plus[12] = {2, 1, 1.5, "Water       "};
    FFake->Plus[7] = {2, 1, 1.5, "Water"};
    ASSERT_TRUE(Print({c.line}, false)) << FReader.LastError();
    EXPECT_THAT(FFake->Calls, ::testing::Contains(c.call));
  }
}

TEST_F(Exec, PaymentRouting) {
  UseLog();
  FReader.SetPayTypePairs({{2, 5}, {2, 7}});
  struct {
    int32_t currencyMode;
    std::string line;
    Lines calls;
  } cases[] = {
      {0, "#E2^10", {"AddPayment(5, , 10, 1)"}},
      {0, "#E4^10", {"AddPayment(4, , 10, 1)"}},
      {1, "#E1^10^1.95583^EUR", {"AddPaymentByCurrncy(1, , 10, 1.95583, EUR)"}},
      {1, "#E1^10", {"AddPayment(1, , 10, 1)"}},
      {1, "#E1^10^0^EUR", {"AddPayment(1, , 10, 0)"}},
      {1, "#E2^10^1.95583^EUR", {"AddPayment(5, , 10, 1.95583)"}},
      {0, "#E1^10^1.95583^EUR", {"AddPayment(1, , 10, 1.95583)"}},
      {0, "#E3", {"GetRecieptStatus()", "AddPayment(3, , 0, 1)"}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.line);
    FFake->Currency = c.currencyMode;
    FFake->Plus[1] = {2, 1, 10, "Item"};
    ASSERT_TRUE(Print({"%1^Item^1000^1000", c.line}, false)) << FReader.LastError();
    const auto start = std::find(FFake->Calls.begin(), FFake->Calls.end(), "AddProgPlu(1, 1, 1, 10, 2)") + 1;
    EXPECT_EQ(Lines(start, start + static_cast<ptrdiff_t>(c.calls.size())), c.calls);
  }
  EXPECT_NE(Log().find("[PrintPayment]Pay Type is changed. Used defined in ini file."), std::string::npos);
}

TEST_F(Exec, LogLinesOfReadingAndPrinting) {
  UseLog();
  FFake->Plus[12] = {2, 1, 1.5, "Water       "};
  FFake->Plus[13] = {2, 1, 1.2, "Bread"};
  ASSERT_TRUE(Print({"@010012Ivan", "#OAnna", "#Q1,0", "#U7", "#LD123", "#LN456", "#LR9", "#F", ":ACME",
                     "0012Water       0000015000001000", "%13^Bread^120^1000", "#P-1000", "#:Thank you", "#E1^2.00",
                     "#R5", "Copy", "#I"}))
      << FReader.LastError();
  ASSERT_TRUE(Print({":x"})) << FReader.LastError();
  ASSERT_TRUE(Read({"&S"}));
  const std::string log = Log();
  for (const char* line : {"AddCommand: Operator :@010012Ivan\r\n",
                           "AddCommand: Operator :#OAnna\r\n",
                           "AddRefundParam: #Q1,0\r\n",
                           "AddUniqueSellN: #U7\r\n",
                           "AddInvoice ZDDSNumb: 123\r\n",
                           "AddInvoice \xC5\xC8\xCA: 456\r\n",
                           "AddInvoiceNumber: 9\r\n",
                           "AddInvoice data [FirmName]: ACME\r\n",
                           "AddCommand AddPlu: 0012Water       0000015000001000\r\n",
                           "AddCommand AddExtPlu: %13^Bread^120^1000\r\n",
                           "AddCommand AddDiscount: #P-1000\r\n",
                           "AddCommand AddLine: #:Thank you\r\n",
                           "AddCommand payment: #E1^2.00\r\n",
                           "AddCommand: AddUserSum :#R5\r\n",
                           "AddCommand: CopyBon :Copy\r\n",
                           "AddReport: #I\r\n",
                           "AddCommand: Printer status :&S\r\n",
                           "[ReadFile]Durration: ",
                           "PrintPlu: 0012Water       0000015000001000 ---  OK \r\n",
                           "PrintDiscount: #P-1000 ---  OK \r\n",
                           "PrintLine: \":Thank you\" ---  OK \r\n",
                           "AddPayment: Pay1 = 2.00 ---  OK \r\n",
                           "Copy bon:Copy ---  OK \r\n",
                           "Print report:#I ---  OK \r\n",
                           "[OpenReceipt]Durration: ",
                           "[OpenComentReceipt]Durration: ",
                           "[PrintPluList]Durration: "})
    EXPECT_NE(log.find(line), std::string::npos) << line;
}

TEST_F(Exec, FileWithoutCommands) {
  ASSERT_FALSE(Print({"@010012Ivan", "#Q1", "#U1", "$X1"}));
  EXPECT_EQ(FReader.LastError(), "[PrintPluList]Not found valid commands.");
  EXPECT_EQ(FReader.RepLines(), Lines{"[ERROR]Not found valid commands."});
  EXPECT_TRUE(FFake->Calls.empty());
}

}  // namespace
}  // namespace fp::test
