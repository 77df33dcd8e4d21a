// The main of the x11 binary: the shared test desktop comes up before Qt connects to it.
#define TL_TEST_ON_DESKTOP
#include "TLTestMain.cpp" // NOLINT(bugprone-suspicious-include)
