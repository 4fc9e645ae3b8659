#include "wizard/form1_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QTabBar>
#include <QTimeEdit>

#include "wizard/connection_dialog.h"
#include "wizard/help_topics.h"
#include "wizard/help_window.h"

namespace corvane::wizard {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Texts keep the CR LF and CR line ends they are defined with; a widget
// wants LF.
QString Shown(const std::string& text) {
  QString s = Q(text);
  s.replace("\r\n", "\n");
  s.replace('\r', '\n');
  return s;
}

QStringList Items(const Control& c) {
  QStringList items;
  for (const auto& item : c.items) items << Q(item);
  return items;
}

QDate DateOf(const parameters::DateTime& dt) { return QDate(dt.year, dt.month, dt.day); }
QTime TimeOf(const parameters::DateTime& dt) { return QTime(dt.hour, dt.minute, dt.second); }

QMessageBox::Icon IconOf(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::Critical:
      return QMessageBox::Critical;
    case MsgIcon::Question:
      return QMessageBox::Question;
    case MsgIcon::Exclamation:
      return QMessageBox::Warning;
    case MsgIcon::Information:
      return QMessageBox::Information;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

Form1Window::Form1Window(WizardPorts ports, QWidget* parent) : QWidget(parent) {
  model_ = std::make_unique<Form1Model>(*this, std::move(ports));
  BuildWindow();
  ConnectControls();
}

Form1Window::~Form1Window() = default;

void Form1Window::Start() { model_->Load(); }

void Form1Window::ConnectControls() {
  Form1Model& m = *model_;
  for (const auto& [name, control] : m.All().All()) {
    QWidget* w = findChild<QWidget*>(Q(name));
    if (w == nullptr) qFatal("Form1 has no widget for the control %s", name.c_str());
    widgets_[name] = w;
    if (auto* tabs = qobject_cast<QTabBar*>(w)) {
      connect(tabs, &QTabBar::currentChanged, this, [&m](int tab) { m.ClickTab(tab); });
    } else if (auto* button = qobject_cast<QPushButton*>(w)) {
      connect(button, &QPushButton::clicked, this, [&m, name = name] { m.Click(name); });
    } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
      connect(check, &QCheckBox::clicked, this, [&m, name = name](bool on) { m.Tick(name, on); });
    } else if (auto* option = qobject_cast<QRadioButton*>(w)) {
      connect(option, &QRadioButton::toggled, this, [&m, name = name](bool on) {
        if (on) m.Choose(name);
      });
    } else if (auto* line = qobject_cast<QLineEdit*>(w)) {
      connect(line, &QLineEdit::textEdited, this, [&m, name = name](const QString& t) { m.Type(name, t.toStdString()); });
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
      connect(combo, &QComboBox::activated, this, [&m, name = name](int i) { m.Select(name, i); });
      if (combo->isEditable())
        connect(combo, &QComboBox::editTextChanged, this,
                [&m, name = name](const QString& t) { m.Type(name, t.toStdString()); });
    } else if (auto* list = qobject_cast<QListWidget*>(w)) {
      connect(list, &QListWidget::currentRowChanged, this, [&m, name = name](int row) { m.Select(name, row); });
      // A double click moves the column to the other list.
      const char* mover = name == "lstexchangefields" ? "cmdaddselected" : "cmdremoveselected";
      connect(list, &QListWidget::itemActivated, this, [&m, mover] { m.Click(mover); });
    } else if (auto* time = qobject_cast<QTimeEdit*>(w)) {
      connect(time, &QTimeEdit::timeChanged, this, [&m, name = name](QTime t) {
        parameters::DateTime v = m.Get(name).value;
        v.hour = t.hour(), v.minute = t.minute(), v.second = t.second();
        m.Pick(name, v);
      });
    } else if (auto* date = qobject_cast<QDateEdit*>(w)) {
      connect(date, &QDateEdit::dateChanged, this, [&m, name = name](QDate d) {
        parameters::DateTime v = m.Get(name).value;
        v.year = d.year(), v.month = d.month(), v.day = d.day();
        m.Pick(name, v);
      });
    }
    Apply(name, w);
  }
  // F1: help on the control with the focus; Ctrl+PgUp/PgDown: the tabs.
  connect(new QShortcut(QKeySequence::HelpContents, this), &QShortcut::activated, this,
          [this] { model_->HelpOn(FocusedControl()); });
  auto* tabs = qobject_cast<QTabBar*>(widgets_.at("TabStrip1"));
  // Not while the tabs are disabled (Finish waiting for the service).
  connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_PageDown), this), &QShortcut::activated, this, [tabs] {
    if (tabs->isEnabled()) tabs->setCurrentIndex(std::min(tabs->currentIndex() + 1, kPageCount - 1));
  });
  connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_PageUp), this), &QShortcut::activated, this, [tabs] {
    if (tabs->isEnabled()) tabs->setCurrentIndex(std::max(tabs->currentIndex() - 1, 0));
  });
}

void Form1Window::ControlChanged(const std::string& name) {
  auto it = widgets_.find(name);
  if (it != widgets_.end()) Apply(name, it->second);
}

// Shows one control's state on its widget, without reporting it back as a
// user action.
void Form1Window::Apply(const std::string& name, QWidget* w) {
  const Control& c = model_->Get(name);
  const QSignalBlocker block(w);
  if (name.starts_with("frm_")) {
    if (c.visible) pages_->setCurrentWidget(w);
    return;
  }
  w->setEnabled(c.enabled);
  w->setVisible(c.visible);
  if (auto it = buddyLabels_.find(w); it != buddyLabels_.end()) {
    it->second->setVisible(c.visible);
    it->second->setEnabled(c.enabled);
  }
  if (auto* tabs = qobject_cast<QTabBar*>(w)) {
    for (int i = 0; i < tabs->count() && i < static_cast<int>(c.items.size()); ++i) tabs->setTabText(i, Q(c.items[i]));
    tabs->setCurrentIndex(c.listIndex);
  } else if (auto* label = qobject_cast<QLabel*>(w)) {
    label->setText(Shown(c.text));
  } else if (auto* line = qobject_cast<QLineEdit*>(w)) {
    if (line->text() != Q(c.text)) line->setText(Q(c.text));
    line->setPlaceholderText(Q(c.placeholder));
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) {
    plain->setPlainText(Shown(c.text));
  } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
    button->setText(Q(c.text));
    if (button->isCheckable()) button->setChecked(c.checked);
  } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
    QStringList items = Items(c), shown;
    for (int i = 0; i < combo->count(); ++i) shown << combo->itemText(i);
    if (items != shown) {
      combo->clear();
      combo->addItems(items);
    }
    combo->setCurrentIndex(c.listIndex);
    if (combo->isEditable() && combo->currentText() != Q(c.text)) combo->setEditText(Q(c.text));
  } else if (auto* list = qobject_cast<QListWidget*>(w)) {
    QStringList items = Items(c), shown;
    for (int i = 0; i < list->count(); ++i) shown << list->item(i)->text();
    if (items != shown) {
      list->clear();
      list->addItems(items);
    }
    list->setCurrentRow(c.listIndex);
  } else if (auto* time = qobject_cast<QTimeEdit*>(w)) {
    time->setTime(TimeOf(c.value));
  } else if (auto* date = qobject_cast<QDateEdit*>(w)) {
    date->setDate(DateOf(c.value));
  }
}

std::string Form1Window::FocusedControl() const {
  for (QWidget* w = QApplication::focusWidget(); w != nullptr && w != this; w = w->parentWidget()) {
    const std::string name = w->objectName().toStdString();
    if (widgets_.count(name) != 0) return name;
  }
  return {};
}

void Form1Window::MessageBox(const std::string& text, const std::string& title, MsgIcon icon) {
  QMessageBox box(IconOf(icon), Q(title), Shown(text), QMessageBox::Ok, this);
  box.exec();
}

bool Form1Window::AskYesNo(const std::string& text, const std::string& title, MsgIcon icon) {
  QMessageBox box(IconOf(icon), Q(title), Shown(text), QMessageBox::Yes | QMessageBox::No, this);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

std::string Form1Window::BuildConnectionString(const std::string& current) {
  ConnectionDialog dialog(current, this);
  return dialog.exec() == QDialog::Accepted ? dialog.connectionString() : current;
}

void Form1Window::ShowHelp(int context) {
  if (help_ == nullptr) help_ = new HelpWindow(this);
  help_->ShowTopic(HelpTopic(context));
}

void Form1Window::ShowBusy(bool busy) {
  if (busy) {
    QApplication::setOverrideCursor(Qt::BusyCursor);
    // Shown before the start request, which may itself wait for polkit.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void Form1Window::Focus(const std::string& name) {
  if (auto it = widgets_.find(name); it != widgets_.end()) it->second->setFocus();
}

void Form1Window::End() {
  ended_ = true;
  close();
}

void Form1Window::closeEvent(QCloseEvent* event) {
  if (model_->Waiting()) {
    event->ignore();
    model_->Click("cmdCancel");
    return;
  }
  QWidget::closeEvent(event);
}

void Form1Window::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!activated_) {
    activated_ = true;
    model_->Activate();
  }
}

}  // namespace corvane::wizard
