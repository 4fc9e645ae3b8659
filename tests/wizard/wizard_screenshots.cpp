// Opens the wizard on the machine's settings (the caller points
// CORVANE_HOME at a sample configuration), shows each page in turn and
// saves a picture of the window per page into the folder named on the
// command line: 0-welcome.png ... 7-finish.png. Fails when a page shows a
// message box or cannot be drawn. The connection dialog, opened on the
// configured string, is saved as 8-connection.png; then Finish is pressed,
// the start of the service answered with Yes, and the window waiting for
// the service to start is saved as 9-waiting.png (a stand-in service that
// stays starting until the picture is taken: the machine's is not asked).
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "wizard/connection_dialog.h"
#include "wizard/form1_window.h"
#include "wizard/hive_parameter_store.h"
#include "wizard/wizard_adapters.h"

namespace {

class StartingService : public corvane::wizard::SvcUtil {
 public:
  explicit StartingService(std::function<void()> whileStarting) : whileStarting_(std::move(whileStarting)) {}
  void SetTargetService(const std::string&) override {}
  void SetHostname(const std::string&) override {}
  std::string GetTargetServiceStatus() override { return started_ ? "SERVICE_RUNNING" : "SERVICE_STOPPED"; }
  bool StartTargetService() override {
    if (observer_) observer_("SERVICE_START_PENDING");
    whileStarting_();
    started_ = true;
    return true;
  }
  void BounceTargetService() override { StartTargetService(); }
  void SetWaitObserver(std::function<void(const std::string&)> observer) override { observer_ = std::move(observer); }
  void CancelWait() override {}
  std::optional<corvane::wizard::Failure> RequestFailure() override { return std::nullopt; }

 private:
  std::function<void()> whileStarting_;
  std::function<void(const std::string&)> observer_;
  bool started_ = false;
};

// Saves a picture of `widget`; false when it cannot be drawn or written.
bool Save(QWidget& widget, const QString& file) {
  const QPixmap picture = widget.grab();
  if (picture.isNull() || !picture.save(file)) return false;
  std::printf("%s: %dx%d\n", qPrintable(file), picture.width(), picture.height());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder for the pictures>\n", argv[0]);
    return 64;
  }
  const QDir folder(QString::fromLocal8Bit(argv[1]));
  if (!folder.mkpath(".")) {
    std::fprintf(stderr, "cannot create %s\n", argv[1]);
    return 1;
  }
  corvane::wizard::HiveParameterStore store(corvane::registry::Hive::Machine());
  corvane::wizard::WizardPorts ports = corvane::wizard::MachinePorts(store);
  int failures = 0;
  std::function<void()> whileStarting;
  ports.createSvcUtil = [&whileStarting](corvane::wizard::Failure&) {
    return std::make_unique<StartingService>(whileStarting);
  };
  corvane::wizard::Form1Window window(std::move(ports));
  // A message box on the way is a broken page: say it, close it, go on.
  // Only the question whether to start the service is expected, at the end.
  bool finishing = false;
  QTimer boxWatch;
  QObject::connect(&boxWatch, &QTimer::timeout, [&failures, &finishing] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      if (finishing && box->button(QMessageBox::Yes) != nullptr) {
        box->button(QMessageBox::Yes)->click();
        return;
      }
      std::fprintf(stderr, "unexpected message: %s\n", qPrintable(box->text()));
      ++failures;
      box->done(QMessageBox::Ok);
    }
  });
  boxWatch.start(50);
  window.show();
  window.Start();
  const char* names[] = {"welcome", "database", "exchange", "fields", "schedule", "exports", "options", "finish"};
  for (int page = 0; page < corvane::wizard::kPageCount; ++page) {
    window.model().ClickTab(page);
    QApplication::processEvents();
    const QString file = folder.filePath(QString("%1-%2.png").arg(page).arg(names[page]));
    if (window.model().VisiblePage() != page || !Save(window, file)) {
      std::fprintf(stderr, "page %d (%s) could not be shown and saved\n", page, names[page]);
      ++failures;
    }
  }
  corvane::wizard::ConnectionDialog dialog(window.model().Get("txtConnectionString").text, &window);
  dialog.show();
  QApplication::processEvents();
  if (!Save(dialog, folder.filePath("8-connection.png"))) {
    std::fprintf(stderr, "the connection dialog could not be saved\n");
    ++failures;
  }
  dialog.close();

  // Finish, Yes, and the window while the service starts.
  bool waited = false;
  whileStarting = [&] {
    QApplication::processEvents();
    waited = Save(window, folder.filePath("9-waiting.png"));
  };
  finishing = true;
  window.model().ClickTab(corvane::wizard::kFinishPage);
  // The first press may only fill in the contacts' mail profile.
  for (int press = 0; press < 2 && !window.ended(); ++press) window.model().Click("cmdNext");
  if (!waited) {
    std::fprintf(stderr, "the window waiting for the service could not be shown and saved\n");
    ++failures;
  }
  return failures == 0 ? 0 : 1;
}
