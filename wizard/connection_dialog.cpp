#include "wizard/connection_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "platform/ado/odbc_catalog.h"

namespace corvane::wizard {

namespace {

constexpr int kKindRole = Qt::UserRole;      // "driver" or "dsn"
constexpr int kNameRole = Qt::UserRole + 1;  // the driver's or data source's name

QString Q(const std::string& s) { return QString::fromStdString(s); }

QLineEdit* Box(QWidget* parent, const char* name) {
  auto* box = new QLineEdit(parent);
  box->setObjectName(name);
  return box;
}

}  // namespace

ConnectionDialog::ConnectionDialog(const std::string& current, QWidget* parent)
    : QDialog(parent), fields_(ParseConnectionString(current)), newConnection_(current.empty()),
      tabs_(new QTabWidget(this)) {
  setObjectName("DataLinkDialog");
  setWindowTitle("Data Link Properties");
  fields_.savePassword = !fields_.password.empty();
  BuildProviderTab();
  BuildConnectionTab();
  BuildAdvancedTab();
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_, 1);
  layout->addWidget(buttons);
  ListProviders();
  ToFields();
  ShowFields();
  tabs_->setCurrentIndex(newConnection_ ? 0 : 1);
  lastTab_ = tabs_->currentIndex();
  connect(tabs_, &QTabWidget::currentChanged, this, [this](int tab) { TabChanged(tab); });
  const int em = fontMetrics().height();
  resize(34 * em, 26 * em);
}

void ConnectionDialog::BuildProviderTab() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  providers_ = new QListWidget(page);
  providers_->setObjectName("DataLinkProviders");
  auto* label = new QLabel("Select the &ODBC driver or data source to connect through:", page);
  label->setBuddy(providers_);
  layout->addWidget(label);
  layout->addWidget(providers_, 1);
  connect(providers_, &QListWidget::currentRowChanged, this, [this] { ProviderChosen(); });
  connect(providers_, &QListWidget::itemActivated, this, [this] { tabs_->setCurrentIndex(1); });
  tabs_->addTab(page, "&Provider");
}

void ConnectionDialog::BuildConnectionTab() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  form_ = new QFormLayout;
  file_ = Box(page, "DataLinkFile");
  auto* browse = new QPushButton("&Browse...", page);
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString chosen = QFileDialog::getSaveFileName(this, "Database file", file_->text(),
                                                        "SQLite databases (*.db *.sqlite *.sqlite3);;All files (*)",
                                                        nullptr, QFileDialog::DontConfirmOverwrite);
    if (!chosen.isEmpty()) file_->setText(chosen);
  });
  auto* fileRow = new QHBoxLayout;
  fileRow->addWidget(file_, 1);
  fileRow->addWidget(browse);
  // A row of a box and a button gets no buddy by itself: without one the
  // label would show its "&" instead of underlining the mnemonic.
  auto* fileLabel = new QLabel("Database &file:", page);
  fileLabel->setBuddy(file_);
  form_->addRow(fileLabel, fileRow);
  server_ = Box(page, "DataLinkServer");
  form_->addRow("&Server:", server_);
  port_ = Box(page, "DataLinkPort");
  form_->addRow("Po&rt:", port_);
  database_ = Box(page, "DataLinkDatabase");
  form_->addRow("&Database:", database_);
  user_ = Box(page, "DataLinkUser");
  form_->addRow("&User name:", user_);
  password_ = Box(page, "DataLinkPassword");
  password_->setEchoMode(QLineEdit::Password);
  form_->addRow("Pass&word:", password_);
  layout->addLayout(form_);
  savePassword_ = new QCheckBox("&Allow saving password", page);
  savePassword_->setObjectName("DataLinkSavePassword");
  layout->addWidget(savePassword_);
  auto* test = new QPushButton("&Test Connection", page);
  test->setObjectName("DataLinkTest");
  connect(test, &QPushButton::clicked, this, [this] { TestConnection(); });
  testResult_ = new QLabel(page);
  testResult_->setObjectName("DataLinkTestResult");
  testResult_->setWordWrap(true);
  testResult_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* testRow = new QHBoxLayout;
  testRow->addWidget(test);
  testRow->addStretch(1);
  layout->addLayout(testRow);
  layout->addWidget(testResult_);
  layout->addStretch(1);
  tabs_->addTab(page, "&Connection");
}

void ConnectionDialog::BuildAdvancedTab() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  advanced_ = new QPlainTextEdit(page);
  advanced_->setObjectName("DataLinkAdvanced");
  auto* label = new QLabel("The ODBC connection &string, as it will be saved:", page);
  label->setBuddy(advanced_);
  layout->addWidget(label);
  layout->addWidget(advanced_, 1);
  advancedTab_ = tabs_->addTab(page, "Ad&vanced");
}

void ConnectionDialog::ListProviders() {
  const QSignalBlocker block(providers_);
  providers_->clear();
  auto add = [this](const QString& text, const char* kind, const std::string& name) {
    auto* item = new QListWidgetItem(text, providers_);
    item->setData(kKindRole, kind);
    item->setData(kNameRole, Q(name));
    return item;
  };
  QListWidgetItem* chosen = nullptr;
  for (const ado::OdbcDriver& d : ado::InstalledDrivers()) {
    auto* item = add(Q(d.description.empty() ? d.name : d.name + " (" + d.description + ")"), "driver", d.name);
    if (fields_.dsn.empty() && QString::compare(Q(d.name), Q(fields_.driver), Qt::CaseInsensitive) == 0) chosen = item;
  }
  for (const ado::OdbcDataSource& s : ado::DataSources()) {
    auto* item = add(Q("Data source " + s.name + " (" + s.driver + ")"), "dsn", s.name);
    if (QString::compare(Q(s.name), Q(fields_.dsn), Qt::CaseInsensitive) == 0) chosen = item;
  }
  // A string naming something this machine does not have keeps it.
  if (chosen == nullptr && !fields_.dsn.empty()) chosen = add(Q("Data source " + fields_.dsn + " (not found)"), "dsn", fields_.dsn);
  if (chosen == nullptr && !fields_.driver.empty())
    chosen = add(Q(fields_.driver + " (not installed)"), "driver", fields_.driver);
  if (chosen != nullptr) providers_->setCurrentItem(chosen);
}

void ConnectionDialog::ProviderChosen() {
  QListWidgetItem* item = providers_->currentItem();
  if (item == nullptr) return;
  FromFields();
  const std::string name = item->data(kNameRole).toString().toStdString();
  if (item->data(kKindRole).toString() == "dsn") {
    fields_.dsn = name;
    fields_.driver.clear();
  } else {
    fields_.dsn.clear();
    fields_.driver = name;
    if (newConnection_) {
      // A new connection gets the settings the driver should run with.
      fields_.others.clear();
      for (const Attribute& a : RecommendedAttributes(name)) fields_.others.push_back(a);
    }
  }
  ShowFields();
}

void ConnectionDialog::ShowFields() {
  const bool dsn = !fields_.dsn.empty();
  const bool file = !dsn && IsFileDriver(fields_.driver);
  form_->setRowVisible(0, file);
  for (int row : {1, 2, 3}) form_->setRowVisible(row, !dsn && !file);
  for (int row : {4, 5}) form_->setRowVisible(row, !file);
  savePassword_->setVisible(!file);
}

void ConnectionDialog::ToFields() {
  file_->setText(IsFileDriver(fields_.driver) ? Q(fields_.database) : QString());
  server_->setText(Q(fields_.server));
  port_->setText(Q(fields_.port));
  database_->setText(IsFileDriver(fields_.driver) ? QString() : Q(fields_.database));
  user_->setText(Q(fields_.user));
  password_->setText(Q(fields_.password));
  savePassword_->setChecked(fields_.savePassword);
}

void ConnectionDialog::FromFields() {
  const bool file = fields_.dsn.empty() && IsFileDriver(fields_.driver);
  fields_.database = (file ? file_ : database_)->text().trimmed().toStdString();
  fields_.server = file ? std::string() : server_->text().trimmed().toStdString();
  fields_.port = file ? std::string() : port_->text().trimmed().toStdString();
  fields_.user = file ? std::string() : user_->text().trimmed().toStdString();
  fields_.password = file ? std::string() : password_->text().toStdString();
  fields_.savePassword = savePassword_->isChecked();
}

std::string ConnectionDialog::Compose(bool withPassword) const {
  ConnectionFields f = fields_;
  if (withPassword) f.savePassword = true;
  return ComposeConnectionString(f);
}

void ConnectionDialog::TabChanged(int tab) {
  if (lastTab_ == advancedTab_) {
    // The raw string, edited or not, is what the fields show now.
    ConnectionFields parsed = ParseConnectionString(advanced_->toPlainText().trimmed().toStdString());
    parsed.savePassword = fields_.savePassword;
    if (parsed.password.empty() && !fields_.savePassword) parsed.password = fields_.password;
    fields_ = parsed;
    ListProviders();
    ToFields();
    ShowFields();
  } else {
    FromFields();
  }
  if (tab == advancedTab_) advanced_->setPlainText(Q(Compose(false)));
  lastTab_ = tab;
}

std::string ConnectionDialog::connectionString() {
  if (tabs_->currentIndex() == advancedTab_) return advanced_->toPlainText().trimmed().toStdString();
  FromFields();
  return Compose(false);
}

QString ConnectionDialog::TestConnection() {
  FromFields();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const std::string failure = wizard::TestConnection(Compose(true));
  QApplication::restoreOverrideCursor();
  const QString text = failure.empty() ? "Test connection succeeded." : "Test connection failed: " + Q(failure);
  testResult_->setText(text);
  return text;
}

}  // namespace corvane::wizard
