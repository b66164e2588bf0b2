// Provisional until staging lands.
#include "wizard/install_wizard.h"
int InstallWizard::PrepareDriverStore() { return 0; }
