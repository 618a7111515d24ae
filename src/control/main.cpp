// Program entry: everything lives in the library.
#include "control/main_loop.h"

int main(int argc, char** argv) { return RunUdpTrail(argc, argv); }
