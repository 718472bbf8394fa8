#include "cli/command_line.h"

int main(int argc, char** argv) { return kestova::cli::RunCommandLine(argc, argv); }
