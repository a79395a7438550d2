// main() of the test programs that do not drive the simulated Android.
#include "support/TestRunner.h"

int main(int argc, char** argv) {
    return runVantleTests(argc, argv);
}
