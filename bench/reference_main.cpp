// bench_reference.exe remove   the reference removal (see reference.cpp)
// bench_reference.exe noop     start and end at once: Wine's start-up of a
//                              process that loads the program's DLLs
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "reference.h"

namespace {

// Never set; the call it guards keeps gdi32 among the imports, so the probe
// loads the same system DLLs as Quellin9.exe.
volatile int neverSet = 0;

}  // namespace

int main(int argc, char** argv)
{
    if (neverSet) return GetStockObject(0) != nullptr;
    if (argc == 2 && std::strcmp(argv[1], "noop") == 0) return 0;
    if (argc == 2 && std::strcmp(argv[1], "remove") == 0) return RunReferenceRemoval() == 0 ? 0 : 1;
    std::fprintf(stderr, "usage: bench_reference.exe remove|noop\n");
    return 2;
}
