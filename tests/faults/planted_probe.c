/* Control for the planting check: loads the named DLLs by bare name, as a
   program that does not restrict the DLL search would. */
#include <windows.h>

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) LoadLibraryA(argv[i]);
    return 0;
}
