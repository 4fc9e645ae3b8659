// The connection-string builder behind the "Build" button: the ODBC
// drivers and data sources of this machine, the fields the chosen one
// needs, "Allow saving password", "Test Connection", and the raw string.
#pragma once

#include <QDialog>
#include <string>

#include "wizard/connection_fields.h"

class QCheckBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QTabWidget;

namespace corvane::wizard {

class ConnectionDialog : public QDialog {
 public:
  // Opens on `current`: a new connection when it is empty.
  ConnectionDialog(const std::string& current, QWidget* parent);

  // The string as the dialog stands (what OK returns): without the
  // password unless saving it is allowed.
  std::string connectionString();
  // Opens the connection as the dialog stands (with the password) and
  // shows the outcome under the button; returns the text shown.
  QString TestConnection();

 private:
  void BuildProviderTab();
  void BuildConnectionTab();
  void BuildAdvancedTab();
  // Lists the drivers and data sources, and selects the one of `fields_`.
  void ListProviders();
  void ProviderChosen();
  void ShowFields();
  void FromFields();   // widgets -> fields_
  void ToFields();     // fields_ -> widgets
  void TabChanged(int tab);
  std::string Compose(bool withPassword) const;

  ConnectionFields fields_;
  bool newConnection_;
  int advancedTab_ = 2;
  int lastTab_ = 0;
  QTabWidget* tabs_;
  QListWidget* providers_ = nullptr;
  QFormLayout* form_ = nullptr;
  QLineEdit *file_ = nullptr, *server_ = nullptr, *port_ = nullptr, *database_ = nullptr, *user_ = nullptr,
            *password_ = nullptr;
  QCheckBox* savePassword_ = nullptr;
  QLabel* testResult_ = nullptr;
  QPlainTextEdit* advanced_ = nullptr;
};

}  // namespace corvane::wizard
