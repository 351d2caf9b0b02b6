#include "program/app/uStrRes.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolButton>

#include <memory>
#include <set>

#include "program/app/uConst.h"
#include "program/app/uProgramInfo.h"
#include "program/app/uProgramLog.h"
#include "platform/Cp1251.h"
#include "platform/FileOps.h"
#include "tests/support/QtTestEnvironment.h"

namespace fp::test {
namespace {

using namespace uStrRes;

QByteArray Cp(const QString& s) { return QByteArray::fromStdString(Utf8ToCp1251(s.toStdString())); }
QByteArray Cp(const char* utf8) { return Cp(QString::fromUtf8(utf8)); }

[[maybe_unused]] test::TQtTestEnvironment& gQtEnvironment = test::QtTestEnvironment<QApplication>();

class StrResTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FTmp.isValid());
    FAppDir = FTmp.path() + "/";
    uProgramInfo::SetAppDir(FAppDir);
    QDir().mkpath(FAppDir + "Translations");
    FLng = FAppDir + "Translations/" + LngFileName;
    ResetMessages();
  }
  void TearDown() override {
    ResetMessages();
    uProgramInfo::SetAppDir("");
  }

  static void Put(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
  }
  static QByteArray Get(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  QTemporaryDir FTmp;
  QString FAppDir;
  QString FLng;
};

TEST_F(StrResTest, BuiltInTable) {
  ASSERT_EQ(MessageCount, 82);
  EXPECT_STREQ(KeyName(InternalSystemError), "InternalSystemError");
  EXPECT_STREQ(KeyName(S_Error), "S_Error");
  std::set<std::string> names;
  for (int i = 0; i < MessageCount; ++i) {
    const auto key = static_cast<TMessageKey>(i);
    names.insert(KeyName(key));
    EXPECT_FALSE(BuiltInText(key).isEmpty()) << KeyName(key);
    // Every built-in text exists in code page 1251.
    EXPECT_EQ(QString::fromStdString(Cp1251ToUtf8(Utf8ToCp1251(BuiltInText(key).toStdString()))), BuiltInText(key))
        << KeyName(key);
  }
  EXPECT_EQ(names.size(), 82u);
  EXPECT_EQ(Message(TestOK), QString::fromUtf8("Успешен тест на фискалния притера."));
  EXPECT_EQ(Message(CantWrite), QString::fromUtf8("Забранен достъп за четене/запис.\nМоля, разрешете за текущия "
                                                  "потребител пълен достъп до папка: "));
  EXPECT_EQ(Message(S_SumIn), QString::fromUtf8("Служебно въвеждане на суми "));
}

TEST_F(StrResTest, Codec) {
  EXPECT_EQ(EncodeLngText("a\r\nb\rc\nd\n\ne"), "a|b|c|d||e");
  EXPECT_EQ(DecodeLngText("a|b||c"), "a\nb\n\nc");
  EXPECT_EQ(DecodeLngText(EncodeLngText("x|y")), "x\ny");  // a bar in a text does not survive
}

TEST_F(StrResTest, EmptyMessagesSectionGetsEveryKeyWrittenBack) {
  Put(FLng, "[Messages]\r\n");
  EXPECT_TRUE(LoadMessages(FLng));
  QByteArray expected = "[Messages]\r\n";
  for (int i = 0; i < MessageCount; ++i) {
    const auto key = static_cast<TMessageKey>(i);
    expected += QByteArray(KeyName(key)) + "=" + Cp(EncodeLngText(BuiltInText(key))) + "\r\n";
  }
  EXPECT_EQ(Get(FLng), expected);
  EXPECT_TRUE(Get(FLng).contains(Cp(
      "CantWrite=Забранен достъп за четене/запис.|Моля, разрешете за текущия потребител пълен достъп до папка: \r\n")));
  EXPECT_EQ(Message(CantWrite), BuiltInText(CantWrite));

  // Read back, the line break returns and the trailing blank is gone; nothing more is written.
  EXPECT_TRUE(LoadMessages(FLng));
  EXPECT_EQ(Message(CantWrite), BuiltInText(CantWrite).trimmed());
  EXPECT_EQ(Message(TestOK), BuiltInText(TestOK));
  EXPECT_EQ(Get(FLng), expected);
}

TEST_F(StrResTest, EmptyKeyIsOverwrittenAndBarsBecomeLineBreaks) {
  Put(FLng, Cp("[Messages]\r\nTestOK=\r\nTestFail=Първи|Втори\r\nStart=  Go  \r\n"));
  EXPECT_TRUE(LoadMessages(FLng));
  EXPECT_EQ(Message(TestOK), BuiltInText(TestOK));
  EXPECT_EQ(Message(TestFail), QString::fromUtf8("Първи\nВтори"));
  EXPECT_EQ(Message(Start), "Go");
  const QByteArray file = Get(FLng);
  EXPECT_TRUE(file.startsWith("[Messages]\r\nTestOK=" + Cp(BuiltInText(TestOK)) + "\r\n"))
      << file.left(80).toStdString();
  EXPECT_TRUE(file.contains(Cp("TestFail=Първи|Втори\r\n")));
}

TEST_F(StrResTest, MissingFileIsNeverCreated) {
  const QString path = FAppDir + LngFileName;
  EXPECT_FALSE(LoadMessages(path));
  QDir(FAppDir).rmdir("Translations");
  EXPECT_FALSE(LoadMessages());
  QDialog w;
  w.setObjectName("frmSettings");
  w.setWindowTitle("Settings");
  TranslateForm(LngFileName, &w);
  EXPECT_FALSE(QFile::exists(path));
  EXPECT_FALSE(QFile::exists(FLng));
  EXPECT_EQ(w.windowTitle(), "Settings");
  EXPECT_EQ(Message(TestOK), BuiltInText(TestOK));
}

TEST_F(StrResTest, TranslationsCopyIsPreferred) {
  const QString inProgramFolder = FAppDir + LngFileName;
  const QByteArray programCopy = "[Messages]\r\nTestOK=program folder\r\n[frmX]\r\nfrmX=program\r\n";
  Put(inProgramFolder, programCopy);
  Put(FLng, "[Messages]\r\nTestOK=translations\r\n[frmX]\r\nfrmX=translations\r\n");
  EXPECT_EQ(LngFilePath(), FLng);
  EXPECT_TRUE(LoadMessages());
  EXPECT_EQ(Message(TestOK), "translations");
  QDialog w;
  w.setObjectName("frmX");
  TranslateForm(LngFileName, &w);
  EXPECT_EQ(w.windowTitle(), "translations");
  EXPECT_EQ(Get(inProgramFolder), programCopy);

  QFile::remove(FLng);
  EXPECT_TRUE(LoadMessages());
  EXPECT_EQ(Message(TestOK), "program folder");
  QDialog w2;
  w2.setObjectName("frmX");
  TranslateForm(LngFileName, &w2);
  EXPECT_EQ(w2.windowTitle(), "program");
}

TEST_F(StrResTest, ReadOnlyFileLackingAKeyIsStillRead) {
  QByteArray content = "[Messages]\r\n";
  for (int i = 0; i < MessageCount; ++i) {
    const auto key = static_cast<TMessageKey>(i);
    if (key == TestOK || key == InvalidValue) continue;
    content += QByteArray(KeyName(key)) + "=" +
               (key == S_Error ? QByteArray("Err!") : Cp(EncodeLngText(BuiltInText(key)))) + "\r\n";
  }
  Put(FLng, content);
  TFaultyFileOps faulty;
  TScopedFileOps scope(&faulty);
  faulty.FailAt(TFileOp::Rename, 0, EROFS, LngFileName);
  bool loaded = false;
  EXPECT_NO_THROW(loaded = LoadMessages(FLng));
  EXPECT_TRUE(loaded);
  EXPECT_EQ(Message(S_Error), "Err!");  // read after the failed write-back
  EXPECT_EQ(Message(TestOK), BuiltInText(TestOK));
  EXPECT_EQ(faulty.Calls(TFileOp::Rename), 1);  // no further write-back in this pass
  EXPECT_EQ(Get(FLng), content);
  const QByteArray log = Get(FAppDir + "Log/" + uProgramLog::ExceptionLogName);
  EXPECT_EQ(log.count("\r\n"), 1);
  EXPECT_TRUE(log.contains(" - [LoadMessages]Unable to write to " + QFile::encodeName(FLng) + "\r\n"))
      << log.toStdString();
}

// A small window with one component of each kind.
struct TestWindow {
  std::unique_ptr<QDialog> w = std::make_unique<QDialog>();
  QLabel* hello;
  QLabel* excluded;
  QLabel* suffix;
  QComboBox* combo;
  QStandardItemModel* model;
  QAction* exit;
  QMenu* menu;
  QCheckBox* check;
  QLineEdit* edit;
  QTableWidget* valueList;

  explicit TestWindow(const QString& name = "frmTest") {
    w->setObjectName(name);
    w->setWindowTitle("Test window");
    auto* bar = new QMenuBar(w.get());
    menu = bar->addMenu("&File");
    menu->setObjectName("mnFile");
    exit = menu->addAction("E&xit");
    exit->setObjectName("mnExit");
    QAction* sep = menu->addSeparator();
    sep->setObjectName("N1");
    menu->addAction("Unnamed");
    hello = new QLabel("Hello", w.get());
    hello->setObjectName("lblHello");
    hello->setToolTip("Says hello");
    excluded = new QLabel("-", w.get());
    excluded->setObjectName("lblModelName");
    suffix = new QLabel("m", w.get());
    suffix->setObjectName("ModelName");
    auto* panel = new QFrame(w.get());
    panel->setObjectName("Panel1");
    auto* group = new QGroupBox("Group", panel);
    group->setObjectName("grp");
    check = new QCheckBox("Check", group);
    check->setObjectName("chkX");
    auto* radio = new QRadioButton("Radio", group);
    radio->setObjectName("rb");
    auto* button = new QPushButton("OK", w.get());
    button->setObjectName("btnOK");
    auto* tool = new QToolButton(w.get());
    tool->setObjectName("spbGo");
    tool->setText("Go");
    combo = new QComboBox(w.get());
    combo->setObjectName("cbCode");
    combo->addItems({"A", "B", ""});
    edit = new QLineEdit(w.get());
    edit->setObjectName("edtX");
    edit->setToolTip("Type");
    auto* spin = new QSpinBox(w.get());
    spin->setObjectName("spin");
    spin->setToolTip("not translated");
    auto* grid = new QTableView(w.get());
    grid->setObjectName("grid");
    model = new QStandardItemModel(0, 2, grid);
    model->setHorizontalHeaderLabels({"Name", "Price"});
    grid->setModel(model);
    valueList = new QTableWidget(2, 2, w.get());
    valueList->setObjectName("vlPay");
    valueList->setHorizontalHeaderLabels({"From", "To"});
  }
};

TEST_F(StrResTest, TranslatorWritesTheTemplateThenReadsIt) {
  Put(FLng, "[frmTest]\r\n");
  {
    TestWindow t;
    EXPECT_TRUE(TranslateFormFromFile(FLng, t.w.get()));
    EXPECT_EQ(t.w->windowTitle(), "Test window");
  }
  EXPECT_EQ(Get(FLng), QByteArray("[frmTest]\r\n"
                                  "frmTest=Test window\r\n"
                                  "mnFile=&File\r\n"
                                  "mnExit=E&xit\r\n"
                                  "lblHello=Hello\r\n"
                                  "lblHello.Hint=Says hello\r\n"
                                  "ModelName=m\r\n"
                                  "grp=Group\r\n"
                                  "chkX=Check\r\n"
                                  "rb=Radio\r\n"
                                  "btnOK=OK\r\n"
                                  "spbGo=Go\r\n"
                                  "cbCode.Itm0=A\r\n"
                                  "cbCode.Itm1=B\r\n"
                                  "cbCode.Itm2=\r\n"
                                  "edtX.Hint=Type\r\n"
                                  "grid.Col0=Name\r\n"
                                  "grid.Col1=Price\r\n"));

  TIniFile ini(QFile::encodeName(FLng).toStdString());
  ini.WriteString("frmTest", "frmTest", "\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB7\xD0\xBE\xD1\x80\xD0\xB5\xD1\x86");
  ini.WriteString("frmTest", "lblHello.Hint", "two|lines");
  ini.WriteString("frmTest", "cbCode.Itm1", "Beta");
  ini.WriteString("frmTest", "grid.Col1", "Cost");
  ini.WriteString("frmTest", "mnExit", "&Quit");
  ini.WriteString("frmTest", "mnExit.Hint", "Leave the program");
  ini.WriteString("frmTest", "chkX", "Tick");
  ini.WriteString("frmTest", "lblModelName", "never");
  ini.WriteString("frmTest", "vlPay.Col0", "never");
  TestWindow t;
  EXPECT_TRUE(TranslateFormFromFile(FLng, t.w.get()));
  EXPECT_EQ(t.w->windowTitle(), QString::fromUtf8("Прозорец"));
  EXPECT_EQ(t.hello->text(), "Hello");
  EXPECT_EQ(t.hello->toolTip(), "two\nlines");
  EXPECT_EQ(t.combo->itemText(0), "A");
  EXPECT_EQ(t.combo->itemText(1), "Beta");
  EXPECT_EQ(t.model->headerData(1, Qt::Horizontal).toString(), "Cost");
  EXPECT_EQ(t.exit->text(), "&Quit");
  EXPECT_EQ(t.exit->statusTip(), "Leave the program");
  EXPECT_EQ(t.check->text(), "Tick");
  EXPECT_EQ(t.excluded->text(), "-");
  EXPECT_EQ(t.valueList->horizontalHeaderItem(0)->text(), "From");
  EXPECT_EQ(t.edit->toolTip(), "Type");
}

TEST_F(StrResTest, MainWindowCaptionAndExcludedLabelsAreNeverTouched) {
  Put(FLng, "[frmMain]\r\nfrmMain=Other title\r\nlblComError=x\r\n");
  QDialog w;
  w.setObjectName("frmMain");
  w.setWindowTitle("MIRAVOK FP driver (/opt/fp/DriverFiscalPrinterX4)");
  auto* err = new QLabel("", &w);
  err->setObjectName("lblComError");
  auto* version = new QLabel("1.0", &w);
  version->setObjectName("Version");
  auto* hdr = new QLabel("Current task", &w);
  hdr->setObjectName("lblCurrentTaskHdr");
  EXPECT_TRUE(TranslateFormFromFile(FLng, &w));
  EXPECT_EQ(w.windowTitle(), "MIRAVOK FP driver (/opt/fp/DriverFiscalPrinterX4)");
  EXPECT_EQ(err->text(), "");
  EXPECT_EQ(Get(FLng),
            QByteArray("[frmMain]\r\nfrmMain=Other title\r\nlblComError=x\r\nlblCurrentTaskHdr=Current task\r\n"));
}

}  // namespace
}  // namespace fp::test
