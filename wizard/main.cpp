// CorvaneWizard: the desktop program that configures the Corvane Service.
#include <QApplication>

#include "service/host/program_info.h"
#include "wizard/form1_window.h"
#include "wizard/hive_parameter_store.h"
#include "wizard/wizard_adapters.h"

namespace {

constexpr const char* kUsage =
    "usage: CorvaneWizard [Qt options]\n"
    "Sets every parameter of the Corvane service in one pass and offers to start\n"
    "or restart the service. It edits the registry of the Corvane home\n"
    "($CORVANE_HOME, default /var/lib/corvane): run it as the service's user.\n";

}  // namespace

int main(int argc, char** argv) {
  if (auto answered = corvane::service::AnswerHelpOrVersion(argc, argv, "CorvaneWizard", kUsage)) return *answered;
  QApplication app(argc, argv);
  QApplication::setApplicationName("CorvaneWizard");
  corvane::wizard::HiveParameterStore store(corvane::registry::Hive::Machine());
  corvane::wizard::Form1Window window(
      corvane::wizard::MachinePorts(store, [] { QCoreApplication::processEvents(); }));
  window.show();
  window.Start();
  return window.ended() ? 0 : app.exec();
}
