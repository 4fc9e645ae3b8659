// CorvaneWizard: the desktop program that configures the Corvane Service.
#include <QApplication>

#include "wizard/form1_window.h"
#include "wizard/hive_parameter_store.h"
#include "wizard/wizard_adapters.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("CorvaneWizard");
  corvane::wizard::HiveParameterStore store(corvane::registry::Hive::Machine());
  corvane::wizard::Form1Window window(
      corvane::wizard::MachinePorts(store, [] { QCoreApplication::processEvents(); }));
  window.show();
  window.Start();
  return window.ended() ? 0 : app.exec();
}
