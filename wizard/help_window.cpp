#include "wizard/help_window.h"

#include <QDialogButtonBox>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace corvane::wizard {

HelpWindow::HelpWindow(QWidget* parent) : QDialog(parent), browser_(new QTextBrowser(this)) {
  setObjectName("HelpWindow");
  setWindowTitle("Corvane Configuration Wizard Help");
  browser_->setObjectName("HelpBrowser");
  browser_->setOpenExternalLinks(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(browser_, 1);
  layout->addWidget(buttons);
  const int em = fontMetrics().height();
  resize(40 * em, 34 * em);
}

void HelpWindow::ShowTopic(const std::string& topic) {
  browser_->setSource(QUrl("qrc:/help/" + QString::fromStdString(topic)));
  show();
  raise();
  activateWindow();
}

QString HelpWindow::source() const { return browser_->source().toString(); }

}  // namespace corvane::wizard
