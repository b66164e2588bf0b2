// The benchmark's reference removal: what Quellin9.exe /R takes away on
// Windows XP, done with the least registry work the platform allows.
#pragma once

// Runs the whole removal once; answers 0, or the number of steps that met
// an unexpected failure (each is printed to stderr). phaseDone, when given,
// is called with a name at the end of each phase.
int RunReferenceRemoval(void (*phaseDone)(const char* name) = nullptr);
