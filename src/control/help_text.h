// The full help (--help, -h) and the version with its licence (--version), on standard output.
#pragma once

/// Prints the help: usage, arguments, options, keys and signals, exit status, an example.
void PrintHelp();

/// Prints "udptrail VERSION" and the licence line.
void PrintVersion();
