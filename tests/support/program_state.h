// Puts the program's process-wide state back to a normal start: the record
// filled for the test program, default brand names, both placeholders.
// Runs before every test.
#pragma once

void ResetProgramState();
