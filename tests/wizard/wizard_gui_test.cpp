// The wizard's window driven through its widgets on Qt's offscreen
// platform: the pages with Next and Back, a configuration filled in and
// finished into the hive, the field lists, the schedule frames, help, and
// the connection dialog.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTest>
#include <QTimer>
#include <QTimeEdit>
#include <deque>

#include "tests/ado/test_database.h"
#include "tests/wizard/wizard_fixture.h"
#include "wizard/connection_dialog.h"
#include "wizard/form1_window.h"
#include "wizard/help_window.h"

namespace corvane::wizard::testing {
namespace {

// The application object for all tests, on the offscreen platform unless
// QT_QPA_PLATFORM names another; gone before the program's statics are.
class QtApplication : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    app_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[16] = "wizard_gui_test";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};
[[maybe_unused]] const auto* const kQtApplication = ::testing::AddGlobalTestEnvironment(new QtApplication);

// Clicks a widget as a person would: a check box or option button on its
// box (a stretched one is wider than what takes clicks), anything else in
// its middle.
void ClickOn(QWidget* w) {
  auto* button = qobject_cast<QAbstractButton*>(w);
  const bool box = button != nullptr && button->isCheckable() && qobject_cast<QPushButton*>(w) == nullptr;
  QTest::mouseClick(w, Qt::LeftButton, {}, box ? QPoint(w->height() / 2, w->height() / 2) : w->rect().center());
}

// Answers each message box that opens with the next button of `answers`
// and keeps its text.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(std::deque<QMessageBox::StandardButton> answers) : answers_(std::move(answers)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || answers_.empty()) return;
      texts.push_back(box->text().toStdString());
      QTest::mouseClick(box->button(answers_.front()), Qt::LeftButton);
      answers_.pop_front();
    });
    timer_.start(10);
  }
  std::vector<std::string> texts;

 private:
  std::deque<QMessageBox::StandardButton> answers_;
  QTimer timer_;
};

class WizardWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = std::make_unique<Form1Window>(harness_.Ports("corvane"));
    window_->show();
    window_->Start();
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  }
  template <typename W = QWidget>
  W* Find(const std::string& name) {
    W* w = window_->findChild<W*>(QString::fromStdString(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  void Click(const std::string& name) { ClickOn(Find(name)); }
  void Retype(const std::string& box, const QString& text) {
    auto* line = Find<QLineEdit>(box);
    line->selectAll();
    QTest::keyClick(line, Qt::Key_Delete);
    QTest::keyClicks(line, text);
  }
  int ShownPage() {
    for (int i = 0; i < kPageCount; ++i)
      if (Find(Indexed("frm", i))->isVisible()) return i;
    return -1;
  }

  WizardHarness harness_;
  std::unique_ptr<Form1Window> window_;
};

TEST_F(WizardWindowTest, WalksThePagesFillsAConfigurationAndFinishesIntoTheHive) {
  EXPECT_EQ(ShownPage(), 0);
  EXPECT_FALSE(Find("cmdback")->isEnabled());
  EXPECT_TRUE(Find("cmdNext")->hasFocus());
  // The Next button's mnemonic; a button pressed by its key shows itself pressed for a moment first.
  QTest::keyClick(window_->windowHandle(), Qt::Key_N, Qt::AltModifier);
  for (int i = 0; i < 100 && ShownPage() != 1; ++i) QTest::qWait(10);
  ASSERT_EQ(ShownPage(), 1);
  QTest::keyClicks(Find("txtConnectionString"), "DSN=gal;PWD=x");
  EXPECT_EQ(Find<QLineEdit>("txtconnectionstringNoPass")->text(), "DSN=gal;PWD=EXISTS");
  Retype("txttblname", "ADDRESSES");
  EXPECT_EQ(Find<QCheckBox>("chkexcludes")->text(),
            "Exclude item from table ADDRESSES, if a matching item is found in the ");
  Click("cmdNext");
  ASSERT_EQ(ShownPage(), 2);
  Retype("TxtMailbox", "svc-gal");
  QTest::keyClicks(Find("txtServer"), "ldap://dc1.example.org/DC=example,DC=org??sub");
  Click("cmdNext");
  Click("cmdNext");
  ASSERT_EQ(ShownPage(), 4);
  Click("Option1_1");
  Click("chkweek_2");
  Click("chkweek_4");
  Find<QTimeEdit>("DTPTime")->setTime(QTime(2, 30, 0));
  Click("cmdNext");
  ASSERT_EQ(ShownPage(), 5);
  EXPECT_FALSE(Find("txtdistlistname")->isEnabled());
  Click("chkdistlist");
  EXPECT_TRUE(Find("txtdistlistname")->isEnabled());
  Retype("txtdistlistname", "Everyone");
  Click("cmdNext");
  Click("chkafter");
  QTest::keyClicks(Find("txtafter"), "/usr/local/bin/after.sh");
  Click("cmdNext");
  ASSERT_EQ(ShownPage(), 7);
  EXPECT_EQ(Find<QPushButton>("cmdNext")->text(), "&Finish");
  EXPECT_THAT(Find<QPlainTextEdit>("txtsummary")->toPlainText().toStdString(),
              ::testing::HasSubstr("Schedule: Every 1 week(s), on Monday, Wednesday starting at"));

  for (int page = 6; page >= 0; --page) {
    Click("cmdback");
    EXPECT_EQ(ShownPage(), page);
    EXPECT_EQ(Find<QTabBar>("TabStrip1")->currentIndex(), page);
  }
  EXPECT_FALSE(Find("cmdback")->isEnabled());

  auto* tabs = Find<QTabBar>("TabStrip1");
  QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(7).center());
  ASSERT_EQ(ShownPage(), 7);
  harness_.statuses = {"SERVICE_STOPPED"};
  BoxAnswerer answerer({QMessageBox::No, QMessageBox::Ok});
  Click("cmdNext");
  EXPECT_THAT(answerer.texts,
              ::testing::ElementsAre(
                  "The Corvane Service is currently stopped. Would you like to start the Corvane Service Now?",
                  "Any changes made in the Corvane Configuration wizard will take effect the next time the service is "
                  "started."));
  EXPECT_TRUE(window_->ended());
  EXPECT_FALSE(window_->isVisible());
  const std::map<std::string, std::string> expected = {
      {"ConnectionString", "DSN=gal;PWD=x"}, {"ConnectionStringnopw", "DSN=gal;PWD=EXISTS"},
      {"TableName", "ADDRESSES"},          {"Mailbox", "svc-gal"},
      {"Server", "ldap://dc1.example.org/DC=example,DC=org??sub"},
      {"ScheduleType", "1"},               {"ScheduleWeek", "1"},
      {"WeekDays", "2,4"},                 {"StartTime", "3-5-2024 2:30:0 AM"},
      {"DistList", "1"},                   {"DistListName", "Everyone"},
      {"RunAfter", "1"},                   {"RunAfterCommand", "/usr/local/bin/after.sh"},
      {"OneTime", "0"},                    {"LastSuccessfulRun", ""}};
  for (const auto& [name, value] : expected) EXPECT_EQ(harness_.Stored(name), value) << name;
}

TEST_F(WizardWindowTest, TheFourFieldButtonsMoveColumnsAndTheirSwitches) {
  auto* available = Find<QListWidget>("lstexchangefields");
  auto* selected = Find<QListWidget>("lstselectedfields");
  QTest::mouseClick(Find<QTabBar>("TabStrip1"), Qt::LeftButton, {}, Find<QTabBar>("TabStrip1")->tabRect(3).center());
  ASSERT_EQ(ShownPage(), 3);
  QTest::mouseClick(available->viewport(), Qt::LeftButton, {}, available->visualItemRect(available->item(1)).center());
  ASSERT_EQ(available->currentItem()->text(), "COMPANY_NAME");
  Click("cmdaddselected");
  EXPECT_EQ(selected->item(selected->count() - 1)->text(), "COMPANY_NAME");
  EXPECT_TRUE(Find<QCheckBox>("chkDBFields_7")->isChecked());
  EXPECT_EQ(available->count(), 35);

  selected->setCurrentRow(0);  // GIVEN_NAME
  Click("cmdremoveselected");
  EXPECT_FALSE(Find<QCheckBox>("chkDBFields_0")->isChecked());
  EXPECT_EQ(available->item(available->count() - 1)->text(), "GIVEN_NAME");

  Click("cmdaddall");
  EXPECT_EQ(selected->count(), 44);
  EXPECT_EQ(available->count(), 0);
  EXPECT_EQ(selected->item(43)->text(), "PERSONAL_HOME_PAGE");
  Click("cmdremoveall");
  EXPECT_EQ(selected->count(), 0);
  EXPECT_EQ(available->count(), 44);
  EXPECT_FALSE(Find<QCheckBox>("chkDBFields_43")->isChecked());
}

TEST_F(WizardWindowTest, EachScheduleKindShowsItsFrameAndTheRightPickers) {
  window_->model().ClickTab(4);
  for (int k = 0; k < kScheduleKinds; ++k) {
    Click(Indexed("Option1", k));
    for (int frame = 0; frame < kScheduleKinds; ++frame)
      EXPECT_EQ(Find(Indexed("frmschedule", frame))->isVisible(), frame == k) << k << " " << frame;
    EXPECT_EQ(Find("DTPTime")->isVisible(), k <= 3) << k;
    EXPECT_EQ(Find("DTPDate")->isVisible(), k == 0 || k == 3) << k;
  }
  Click("Option1_2");
  EXPECT_FALSE(Find("cmbmonth")->isEnabled());
  Click("optmonthly_1");
  EXPECT_TRUE(Find("cmbmonth")->isEnabled());
  EXPECT_FALSE(Find("lstmonth")->isEnabled());
}

TEST_F(WizardWindowTest, HelpOpensAtTheFocusedSettingOrThePage) {
  window_->model().ClickTab(2);
  EXPECT_EQ(Find<QLineEdit>("txtServer")->placeholderText(), "ldap://dc1.example.org/DC=example,DC=org??sub");
  Find("txtServer")->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
  auto* help = window_->findChild<HelpWindow*>("HelpWindow");
  ASSERT_NE(help, nullptr);
  EXPECT_TRUE(help->isVisible());
  EXPECT_EQ(help->source(), "qrc:/help/exchange.html#c201");
  Click("cmdHelp");
  EXPECT_EQ(help->source(), "qrc:/help/exchange.html");
  EXPECT_THAT(help->findChild<QTextBrowser*>("HelpBrowser")->toPlainText().toStdString(),
              ::testing::HasSubstr("ldap://dc1.example.org/DC=example,DC=org??sub"));
}

// After Yes: a busy cursor and the service's status below the pages, no
// other page meanwhile, and Cancel ends the wait, not the program.
TEST_F(WizardWindowTest, TheWaitForTheServiceShowsItselfAndCancelEndsIt) {
  Form1Model& m = window_->model();
  m.Type("txtConnectionString", "DSN=gal");
  m.Type("txtServer", "dc1");
  m.ClickTab(7);
  harness_.statuses = {"SERVICE_STOPPED", "SERVICE_STOPPED"};
  harness_.waitStatuses = {"SERVICE_START_PENDING", "SERVICE_START_PENDING"};
  int rounds = 0;
  harness_.duringWait = [&] {
    ++rounds;
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::BusyCursor);
    EXPECT_FALSE(Find("TabStrip1")->isEnabled());
    EXPECT_FALSE(Find("cmdback")->isEnabled());
    EXPECT_TRUE(Find("lblservicestatus")->isVisible());
    EXPECT_EQ(Find<QLabel>("lblservicestatus")->text(),
              "Starting the Corvane Service... Status: SERVICE_START_PENDING. Cancel stops waiting.");
    Click("cmdCancel");
    EXPECT_TRUE(window_->isVisible());
  };
  BoxAnswerer answerer({QMessageBox::Yes, QMessageBox::Ok});
  Click("cmdNext");
  EXPECT_EQ(rounds, 1);
  ASSERT_EQ(answerer.texts.size(), 2u);
  EXPECT_THAT(answerer.texts[1], ::testing::HasSubstr("left in whatever state systemd brings it to"));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(window_->ended());
}

TEST(WizardConnectionDialog, BuildsASqliteStringFromTheDriverListAndTestsIt) {
  TempFolder folder;
  ConnectionDialog dialog("", nullptr);
  dialog.show();
  auto* providers = dialog.findChild<QListWidget*>("DataLinkProviders");
  const auto found = providers->findItems("SQLite3 ", Qt::MatchStartsWith);
  ASSERT_EQ(found.size(), 1);
  providers->setCurrentItem(found[0]);
  dialog.findChild<QTabWidget*>()->setCurrentIndex(1);
  EXPECT_FALSE(dialog.findChild<QLineEdit*>("DataLinkServer")->isVisible());
  // The file's label underlines its mnemonic (Alt+F) instead of showing "&".
  QLabel* fileLabel = nullptr;
  for (QLabel* label : dialog.findChildren<QLabel*>())
    if (label->text() == "Database &file:") fileLabel = label;
  ASSERT_NE(fileLabel, nullptr);
  EXPECT_EQ(fileLabel->buddy(), dialog.findChild<QLineEdit*>("DataLinkFile"));
  const std::string file = (folder.path() / "gal.db").string();
  QTest::keyClicks(dialog.findChild<QLineEdit*>("DataLinkFile"), QString::fromStdString(file));
  QTest::mouseClick(dialog.findChild<QPushButton*>("DataLinkTest"), Qt::LeftButton);
  EXPECT_EQ(dialog.findChild<QLabel*>("DataLinkTestResult")->text(), "Test connection succeeded.");
  const std::string built = "Driver=SQLite3;Database=" + file + ";JournalMode=WAL;SyncPragma=NORMAL";
  EXPECT_EQ(dialog.connectionString(), built);
  // The raw string, edited on the Advanced tab, is what the fields show afterwards.
  const int drivers = providers->count();
  auto* tabs = dialog.findChild<QTabWidget*>();
  tabs->setCurrentIndex(2);
  auto* raw = dialog.findChild<QPlainTextEdit*>("DataLinkAdvanced");
  EXPECT_EQ(raw->toPlainText().toStdString(), built);
  raw->setPlainText(raw->toPlainText() + ";Timeout=2000");
  tabs->setCurrentIndex(1);
  EXPECT_EQ(providers->count(), drivers);
  EXPECT_EQ(dialog.connectionString(), built + ";Timeout=2000");
}

TEST(WizardConnectionDialog, KeepsThePasswordOnlyWhenSavingItIsAllowed) {
  const std::string cs = corvane::testing::PostgresConnectionString();
  if (cs.empty()) {
    if (corvane::testing::UnderCi()) FAIL() << "CORVANE_TEST_PG is not set";
    GTEST_SKIP() << "no PostgreSQL server (set CORVANE_TEST_PG)";
  }
  ConnectionDialog dialog(cs, nullptr);
  dialog.show();
  auto* save = dialog.findChild<QCheckBox*>("DataLinkSavePassword");
  EXPECT_TRUE(save->isChecked());
  QTest::mouseClick(dialog.findChild<QPushButton*>("DataLinkTest"), Qt::LeftButton);
  EXPECT_EQ(dialog.findChild<QLabel*>("DataLinkTestResult")->text(), "Test connection succeeded.");
  EXPECT_EQ(dialog.connectionString(), ComposeConnectionString(ParseConnectionString(cs)));
  ClickOn(save);
  EXPECT_THAT(dialog.connectionString(), ::testing::Not(::testing::HasSubstr("Pwd=")));
}

}  // namespace
}  // namespace corvane::wizard::testing
