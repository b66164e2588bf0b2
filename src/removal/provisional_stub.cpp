// Provisional until the removal sequence lands.
#include "removal/removal.h"
void RunRemoval(OsClass) {}
