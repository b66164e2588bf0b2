#include "removal/removal.h"
#include "wizard/install_wizard.h"
void RunRemoval(OsClass) {}
int InstallWizard::PrepareDriverStore() { return 0; }
INT_PTR InstallWizard::ShowWizard(HWND) { return 0; }
