// The start-up of a test program: msvcrt.dll hands out the command line;
// there is no other start-up code to run, since nothing in these programs
// has a dynamic initializer.
#include <stdlib.h>

extern "C" {
struct quon_startup_info {
    int newMode;
};
__declspec(dllimport) int __cdecl __getmainargs(int* argc, char*** argv, char*** environment, int expandWildcards,
                                                quon_startup_info* info);
void __cdecl mainCRTStartup();
}

int main(int argc, char** argv);

void __cdecl mainCRTStartup() {
    int argc = 0;
    char** argv = nullptr;
    char** environment = nullptr;
    quon_startup_info info = {0};
    if (__getmainargs(&argc, &argv, &environment, 0, &info) != 0) exit(255);
    // Start-up code is the one place that calls main.
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wmain"
    exit(main(argc, argv));
#pragma clang diagnostic pop
}
