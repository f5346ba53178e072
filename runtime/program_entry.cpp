// The program entry: hands over to the start-up sequence.
#include "interpreter/script_runner.h"

int main(int argc, char** argv) { return tev::script_main(argc, argv); }
