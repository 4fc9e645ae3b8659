// The real things the wizard is handed (see wizard_ports.h).
#pragma once

#include "wizard/wizard_ports.h"

namespace corvane::wizard {

// Creates `SvcUtil` by its identifier "Tarnwick.SvcUtil"
// (service_control_adapter.cpp); `processPendingMessages` runs between the
// status polls while the service starts or stops.
std::unique_ptr<SvcUtil> CreateSvcUtil(Failure& failure, std::function<void()> processPendingMessages);

// The public folder tree's folders (public_folders_adapter.cpp).
PublicFolderListing ListPublicFolders();

// Everything for the program: the machine's hive, the two components, the
// clock, the service's logon account from its installed unit ("LocalSystem"
// for a unit without User=, empty when not installed), COMPUTERNAME (the
// host name where it is not set), the service's unit name, and the default
// import-file path (dstemp.csv in the Corvane home, which the service's user
// can write). `store` must outlive the ports. `processPendingMessages` lets
// the window process its pending messages during the service's waits.
WizardPorts MachinePorts(ParameterStore& store, std::function<void()> processPendingMessages = {});

}  // namespace corvane::wizard
