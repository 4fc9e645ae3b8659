// Opens the wizard on the machine's settings (the caller points
// CORVANE_HOME at a sample configuration), shows each page in turn and
// saves a picture of the window per page into the folder named on the
// command line: 0-welcome.png ... 7-finish.png. Fails when a page shows a
// message box or cannot be drawn. The connection dialog, opened on the
// configured string, is saved as 8-connection.png.
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>

#include "wizard/connection_dialog.h"
#include "wizard/form1_window.h"
#include "wizard/hive_parameter_store.h"
#include "wizard/wizard_adapters.h"

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
  corvane::wizard::Form1Window window(corvane::wizard::MachinePorts(store));
  int failures = 0;
  // A message box on the way is a broken page: say it, close it, go on.
  QTimer boxWatch;
  QObject::connect(&boxWatch, &QTimer::timeout, [&failures] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
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
    const QPixmap picture = window.grab();
    if (window.model().VisiblePage() != page || picture.isNull() || !picture.save(file)) {
      std::fprintf(stderr, "page %d (%s) could not be shown and saved\n", page, names[page]);
      ++failures;
      continue;
    }
    std::printf("%s: %dx%d\n", qPrintable(file), picture.width(), picture.height());
  }
  corvane::wizard::ConnectionDialog dialog(window.model().Get("txtConnectionString").text, &window);
  dialog.show();
  QApplication::processEvents();
  const QString file = folder.filePath("8-connection.png");
  if (!dialog.grab().save(file)) {
    std::fprintf(stderr, "the connection dialog could not be saved\n");
    ++failures;
  }
  return failures == 0 ? 0 : 1;
}
