// The running Windows family as one small code.
#pragma once
#include "shell/product.h"

enum {
    OsWin95 = 0,
    OsWin98 = 1,
    OsWinMe = 2,
    OsNtOther = 10,
    OsWin2000 = 11,
    OsWinXP = 12,
    OsWinServer2003 = 13,
    OsWinVista = 14,
    OsWinLater = 15,
};

OsClass GetOsClass();
int GetServicePackVersion(unsigned long* major, unsigned long* minor);
