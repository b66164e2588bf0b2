// The state a normal start leaves: program in C:\Quellin\Setup\, default
// names, both placeholders. Shared by the unit tests and the fuzz targets.
#pragma once
#include <windows.h>

#include "shell/app.h"
#include "shell/config.h"
#include "shell/paths.h"
#include "shell/text.h"
#include "standin/standin.h"

inline void NormalStart()
{
    static ApplicationRecord record;
    StandinReset();
    ZeroMemory(&record, sizeof(record));
    UseApplicationRecord(&record);
    GetModuleDirectory(record.programDir, sizeof(record.programDir));
    lstrcpyA(record.title, PROGRAM_TITLE);
    record.showVersionLabel = 1;
    Placeholders().Clear();
    ReadConfiguration();
}
