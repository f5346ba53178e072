// The program entry: hands over to start-up, which never returns.
#include "startup/startup.h"

int main(int argc, char** argv) { return tev::program_entry(argc, argv); }
