#include "logreader.h"

int main(int argc, char** argv) { return runLogreader(argc, argv); }
