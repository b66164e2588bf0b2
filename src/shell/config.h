// The optional Quellin9.ini beside the program: wizard icon and brand names.
#pragma once

void ReadConfiguration();
void RegisterPlaceholders();
