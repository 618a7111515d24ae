// The client example once more, compiled as C++ to show the header builds in the C++ modes too.
#include "client_example.c"
