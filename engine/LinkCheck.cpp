// Linked with every object file of every engine library (see the CMake file
// beside it). It does nothing when run: its link is the check that no symbol
// of the engine is defined twice.
int main() { return 0; }
