// The help window: the wizard's HTML help pages (built into the program)
// in a browser that follows their links.
#pragma once

#include <QDialog>
#include <string>

class QTextBrowser;

namespace corvane::wizard {

class HelpWindow : public QDialog {
 public:
  explicit HelpWindow(QWidget* parent);
  // Shows a topic of HelpTopic(), e.g. "database.html#c101", and raises the window.
  void ShowTopic(const std::string& topic);
  // The page shown, e.g. "qrc:/help/database.html#c101".
  QString source() const;

 private:
  QTextBrowser* browser_;
};

}  // namespace corvane::wizard
