// A DLL that tests plant beside a program: whether the program can load it by
// its bare name shows where its DLL search looks.
#include <windows.h>

extern "C" __declspec(dllexport) int PlantedProbe() { return 1; }
