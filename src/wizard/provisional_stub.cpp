// Provisional until the wizard dialog lands.
#include "wizard/install_wizard.h"
INT_PTR InstallWizard::ShowWizard(HWND) { return 0; }
