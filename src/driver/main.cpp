#include "driver/run.h"

int main(int argc, char** argv) { return tarvo::RunMain(argc, argv); }
