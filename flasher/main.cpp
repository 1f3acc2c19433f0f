#include "flasher.h"

int main(int argc, char** argv) { return runFlasher(argc, argv); }
