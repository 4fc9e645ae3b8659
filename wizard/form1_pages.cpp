// Form1's widgets: the tab strip, the eight pages and the four buttons.
// Each widget that shows a control carries the control's name; captions
// and list entries come from the model when the window starts.
#include <QBoxLayout>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTabBar>
#include <QTimeEdit>

#include "service/parameters/column_switches.h"
#include "wizard/form1_window.h"

namespace corvane::wizard {

namespace {

// A widget that shows the control `name` (Qt's parent takes ownership when
// it is put into a layout).
template <typename W>
W* Named(const std::string& name) {
  auto* w = new W;
  w->setObjectName(QString::fromStdString(name));
  return w;
}

QLabel* Wrapped(const QString& text) {
  auto* label = new QLabel(text);
  label->setWordWrap(true);
  return label;
}

QWidget* Row(std::initializer_list<QWidget*> widgets, bool stretch = true) {
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  for (QWidget* w : widgets) layout->addWidget(w);
  if (stretch) layout->addStretch(1);
  return row;
}

// Radio buttons of one control array, exclusive among themselves.
void Group(QWidget* owner, std::initializer_list<QRadioButton*> buttons) {
  auto* group = new QButtonGroup(owner);
  for (QRadioButton* b : buttons) group->addButton(b);
}

}  // namespace

QLabel* Form1Window::Label(const QString& text, QWidget* buddy) {
  auto* label = new QLabel(text);
  label->setBuddy(buddy);
  buddyLabels_[buddy] = label;
  return label;
}

void Form1Window::BuildWindow() {
  setWindowTitle("Corvane Configuration Wizard");
  auto* tabs = Named<QTabBar>("TabStrip1");
  tabs->setExpanding(false);
  tabs->setDrawBase(true);
  for (int i = 0; i < kPageCount; ++i) tabs->addTab(QString());
  pages_ = new QStackedWidget;
  QWidget* built[kPageCount] = {WelcomePage(), DatabasePage(), ExchangePage(), FieldsPage(),
                                SchedulePage(), ExportsPage(),  OptionsPage(),  FinishPage()};
  for (int i = 0; i < kPageCount; ++i) {
    built[i]->setObjectName(QString::fromStdString(Indexed("frm", i)));
    pages_->addWidget(built[i]);
  }

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(Named<QPushButton>("cmdHelp"));
  buttons->addStretch(1);
  for (const char* name : {"cmdback", "cmdNext", "cmdCancel"}) buttons->addWidget(Named<QPushButton>(name));

  // What Finish waits for while the service starts; hidden until then.
  auto* status = Named<QLabel>("lblservicestatus");
  status->setWordWrap(true);
  QFont bold = status->font();
  bold.setBold(true);
  status->setFont(bold);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs);
  layout->addWidget(pages_, 1);
  layout->addWidget(status);
  layout->addLayout(buttons);
}

QWidget* Form1Window::WelcomePage() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  auto* title = new QLabel("Corvane Configuration");
  QFont font = title->font();
  font.setPointSizeF(font.pointSizeF() * 1.6);
  font.setBold(true);
  title->setFont(font);
  auto* welcome = Named<QLabel>("lblwelcome");
  welcome->setWordWrap(true);
  layout->addWidget(title);
  layout->addSpacing(title->fontMetrics().height());
  layout->addWidget(welcome);
  layout->addStretch(1);
  layout->addWidget(Named<QLabel>("lblversion"));
  return page;
}

QWidget* Form1Window::DatabasePage() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  auto* connection = new QGroupBox("Database connection");
  auto* form = new QFormLayout(connection);
  auto* text = Named<QLineEdit>("txtConnectionString");
  form->addRow(Label("Connection &string:", text), Row({text, Named<QPushButton>("cmdchangedb")}, false));
  auto* shown = Named<QLineEdit>("txtconnectionstringNoPass");
  shown->setReadOnly(true);
  form->addRow(Label("Shown without password:", shown), shown);
  layout->addWidget(connection);

  auto* tables = new QGroupBox("Tables");
  auto* tableForm = new QFormLayout(tables);
  auto* final = Named<QLineEdit>("txttblname");
  tableForm->addRow(Label("F&inal table:", final), final);
  auto* temp = Named<QLineEdit>("txttmptblname");
  tableForm->addRow(Label("&Temporary table:", temp), temp);
  layout->addWidget(tables);

  auto* exclusion = new QGroupBox("Exclusions");
  auto* exclusionForm = new QFormLayout(exclusion);
  auto* exclude = Named<QCheckBox>("chkexcludes");
  exclusionForm->addRow(exclude);
  auto* column = Named<QComboBox>("cmbfields");
  exclusionForm->addRow(Label("co&lumn", column), column);
  auto* table = Named<QLineEdit>("txtexclusiontable");
  exclusionForm->addRow(Label("of the table", table), table);
  layout->addWidget(exclusion);
  layout->addStretch(1);
  return page;
}

QWidget* Form1Window::ExchangePage() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  auto* mail = Named<QLabel>("lblmail");
  mail->setWordWrap(true);
  layout->addWidget(mail);
  auto* form = new QFormLayout;
  auto* mailbox = Named<QLineEdit>("TxtMailbox");
  form->addRow(Label("&Mailbox:", mailbox), mailbox);
  auto* server = Named<QLineEdit>("txtServer");
  form->addRow(Label("&Server (directory):", server), server);
  auto* profile = Named<QLineEdit>("txtmailprofile");
  form->addRow(Label("Mail &profile:", profile), profile);
  // The directory bind; the password stays in its file.
  auto* bindDn = Named<QLineEdit>("txtLdapBindDN");
  bindDn->setPlaceholderText("CN=svc-corvane,OU=Service,DC=example,DC=org");
  form->addRow(Label("&Bind as:", bindDn), bindDn);
  auto* passwordFile = Named<QLineEdit>("txtLdapPasswordFile");
  passwordFile->setPlaceholderText("/var/lib/corvane/ldap-password (mode 0600)");
  form->addRow(Label("Pass&word file:", passwordFile), passwordFile);
  auto* mech = Named<QLineEdit>("txtLdapSaslMech");
  mech->setPlaceholderText("GSSAPI for Kerberos; empty for a simple bind");
  form->addRow(Label("SASL mec&hanism:", mech), mech);
  layout->addLayout(form);
  layout->addStretch(1);
  return page;
}

QWidget* Form1Window::FieldsPage() {
  auto* page = new QWidget;
  auto* grid = new QGridLayout(page);
  auto* available = Named<QListWidget>("lstexchangefields");
  auto* selected = Named<QListWidget>("lstselectedfields");
  grid->addWidget(Label("A&vailable columns:", available), 0, 0);
  grid->addWidget(Label("Columns in the &table:", selected), 0, 2);
  grid->addWidget(available, 1, 0);
  auto* buttons = new QVBoxLayout;
  buttons->addStretch(1);
  for (const char* name : {"cmdaddselected", "cmdremoveselected", "cmdaddall", "cmdremoveall"})
    buttons->addWidget(Named<QPushButton>(name));
  buttons->addStretch(1);
  grid->addLayout(buttons, 1, 1);
  grid->addWidget(selected, 1, 2);
  // The column switches themselves are never shown: the lists show them.
  auto* switches = new QWidget;
  auto* switchLayout = new QVBoxLayout(switches);
  for (int i = 0; i < parameters::kColumnBoxCount; ++i)
    switchLayout->addWidget(Named<QCheckBox>(Indexed("chkDBFields", i)));
  switches->hide();
  grid->addWidget(switches, 2, 0);
  return page;
}

QWidget* Form1Window::SchedulePage() {
  auto* page = new QWidget;
  auto* layout = new QHBoxLayout(page);

  auto* kinds = new QGroupBox("Run the export");
  auto* kindLayout = new QVBoxLayout(kinds);
  auto* kindGroup = new QButtonGroup(page);
  for (int k = 0; k < kScheduleKinds; ++k) {
    auto* option = Named<QRadioButton>(Indexed("Option1", k));
    kindGroup->addButton(option);
    kindLayout->addWidget(option);
  }
  layout->addWidget(kinds, 0, Qt::AlignTop);

  auto* right = new QVBoxLayout;
  auto* when = new QFormLayout;
  auto* date = Named<QDateEdit>("DTPDate");
  date->setCalendarPopup(true);
  date->setDisplayFormat("yyyy-MM-dd");
  when->addRow(Label("Start &date:", date), date);
  auto* time = Named<QTimeEdit>("DTPTime");
  time->setDisplayFormat("HH:mm:ss");
  when->addRow(Label("Start t&ime:", time), time);
  right->addLayout(when);

  // Daily.
  auto* daily = Named<QGroupBox>("frmschedule_0");
  daily->setTitle("Daily");
  auto* dailyLayout = new QVBoxLayout(daily);
  auto *everyDay = Named<QRadioButton>("Optday_0"), *weekDays = Named<QRadioButton>("Optday_1"),
       *every = Named<QRadioButton>("Optday_2");
  Group(page, {everyDay, weekDays, every});
  dailyLayout->addWidget(everyDay);
  dailyLayout->addWidget(weekDays);
  dailyLayout->addWidget(Row({every, Named<QComboBox>("lstdays"), new QLabel("days")}));

  // Weekly.
  auto* weekly = Named<QGroupBox>("frmschedule_1");
  weekly->setTitle("Weekly");
  auto* weeklyLayout = new QGridLayout(weekly);
  auto* weeks = Named<QComboBox>("lstweek");
  weeklyLayout->addWidget(Row({Label("Ever&y", weeks), weeks, new QLabel("week(s) on:")}), 0, 0, 1, 4);
  for (int d = 1; d <= 7; ++d) weeklyLayout->addWidget(Named<QCheckBox>(Indexed("chkweek", d)), 1 + (d - 1) / 4, (d - 1) % 4);

  // Monthly.
  auto* monthly = Named<QGroupBox>("frmschedule_2");
  monthly->setTitle("Monthly");
  auto* monthlyLayout = new QGridLayout(monthly);
  auto *day = Named<QRadioButton>("optmonthly_0"), *the = Named<QRadioButton>("optmonthly_1");
  Group(page, {day, the});
  monthlyLayout->addWidget(Row({day, Named<QComboBox>("lstmonth")}), 0, 0, 1, 6);
  monthlyLayout->addWidget(Row({the, Named<QComboBox>("cmbmonth"), Named<QComboBox>("cmbmonth2")}), 1, 0, 1, 6);
  monthlyLayout->addWidget(new QLabel("of the months:"), 2, 0, 1, 6);
  for (int m = 1; m <= 12; ++m) monthlyLayout->addWidget(Named<QCheckBox>(Indexed("chkmonth", m)), 3 + (m - 1) / 6, (m - 1) % 6);

  const char* explanations[] = {
      "The export runs once, at the date and time above.",
      "The export runs each time the Corvane Service starts, which is when the computer starts.",
      "The export does not run on its own. The service keeps running and can be given a schedule later.",
      "The export runs again as soon as the last run has finished."};
  right->addWidget(daily);
  right->addWidget(weekly);
  right->addWidget(monthly);
  for (int k = 3; k < kScheduleKinds; ++k) {
    auto* frame = Named<QGroupBox>(Indexed("frmschedule", k));
    auto* frameLayout = new QVBoxLayout(frame);
    frameLayout->addWidget(Wrapped(explanations[k - 3]));
    right->addWidget(frame);
  }
  right->addStretch(1);
  layout->addLayout(right, 1);
  return page;
}

QWidget* Form1Window::ExportsPage() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  auto* contacts = new QGroupBox("Contacts");
  auto* contactsForm = new QFormLayout(contacts);
  contactsForm->addRow(Named<QCheckBox>("ChkDynamicProfile"));
  auto* profile = Named<QLineEdit>("txtAltProfile");
  contactsForm->addRow(Label("Mail &profile for contacts:", profile), profile);
  contactsForm->addRow(Named<QCheckBox>("chkContacts_0"), Named<QLineEdit>("txtlocalcontactname"));
  auto* folders = Named<QComboBox>("cmbsubs");
  folders->setEditable(true);
  folders->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  auto* populate = Named<QPushButton>("cmdPopulate");
  populate->setToolTip("List the public folders");
  contactsForm->addRow(Named<QCheckBox>("chkContacts_1"), Row({folders, populate}, false));
  layout->addWidget(contacts);

  auto* list = new QGroupBox("Distribution list");
  auto* listForm = new QFormLayout(list);
  listForm->addRow(Named<QCheckBox>("chkdistlist"));
  const std::pair<const char*, const char*> boxes[] = {{"txtdistlistname", "&List name:"},
                                                       {"txtexchangeserver", "Directory ser&ver:"},
                                                       {"txtexchangeorganization", "&Organization (base):"},
                                                       {"txtcontainer", "Recipients con&tainer:"},
                                                       {"txttempfile", "&Import file:"}};
  for (auto [name, caption] : boxes) {
    auto* box = Named<QLineEdit>(name);
    listForm->addRow(Label(caption, box), box);
  }
  layout->addWidget(list);
  layout->addStretch(1);
  return page;
}

QWidget* Form1Window::OptionsPage() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  auto* run = new QGroupBox("Export run");
  auto* runLayout = new QVBoxLayout(run);
  for (const char* name : {"chkparse", "chksmtp", "chkevents", "chkPublishSwap"})
    runLayout->addWidget(Named<QCheckBox>(name));
  layout->addWidget(run);
  auto* commands = new QGroupBox("Before and after the export");
  auto* commandLayout = new QVBoxLayout(commands);
  const std::pair<const char*, const char*> pairs[] = {
      {"chkbefore", "txtbefore"}, {"chkSQLbefore", "txtSQLBefore"}, {"chkafter", "txtafter"}, {"ChkSQLAfter", "txtSQLAfter"}};
  for (auto [box, text] : pairs) {
    commandLayout->addWidget(Named<QCheckBox>(box));
    commandLayout->addWidget(Named<QLineEdit>(text));
  }
  layout->addWidget(commands);
  layout->addStretch(1);
  return page;
}

QWidget* Form1Window::FinishPage() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  auto* summary = Named<QPlainTextEdit>("txtsummary");
  summary->setReadOnly(true);
  layout->addWidget(new QLabel("The Corvane Service will be configured as follows. Press Finish to save the settings."));
  layout->addWidget(summary, 1);
  return page;
}

}  // namespace corvane::wizard
