// The process-wide record on its own, so the routines that only read it
// (texts, paths, configuration) do not pull in the start-up.
#include "shell/app.h"

namespace {

ApplicationRecord programRecord;
ApplicationRecord* currentRecord = &programRecord;

}  // namespace

ApplicationRecord& App() { return *currentRecord; }

void UseApplicationRecord(ApplicationRecord* record) { currentRecord = record; }
