// Provisional until staging and the wizard land.
#include "wizard/install_wizard.h"
int InstallWizard::PrepareDriverStore() { return 0; }
INT_PTR InstallWizard::ShowWizard(HWND) { return 0; }
