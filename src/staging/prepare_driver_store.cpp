// The wizard's step before it opens: tell the user what Windows may ask,
// then stage the packages.
#include "wizard/install_wizard.h"

#include "resources/ids.h"
#include "shell/app.h"
#include "shell/text.h"
#include "staging/inf_stager.h"

int InstallWizard::PrepareDriverStore()
{
    InfStager stager(osClass_);
    if (osClass_ >= 11) {
        char text[1024] = {};
        LoadText(IDS_STAGING_NOTICE, text);
        if (MessageBoxA(nullptr, text, App().title, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK)
            return 0;
    }
    state_ = Staging;
    int result = stager.RunStaging();
    state_ = result == 1 ? Waiting : Idle;
    return result;
}
