// The program entry: hands over to the start-up sequence.
int main(int argc, char** argv) { return 0; }
