#pragma once

// The one place where time can be scaled for tests: every delay and timer of the update dialogue
// goes through scaledMs(). The product runs at scale 1; DUX_TIME_SCALE=0.05 makes a test suite run
// the same dialogue twenty times faster. Reply time-outs of a link are not scaled.
namespace TimeScale {

constexpr const char* EnvironmentVariable = "DUX_TIME_SCALE";

// `ms` scaled by the factor in DUX_TIME_SCALE (read once; 1 when unset or not a positive number).
int scaledMs(int ms);
// The same for microseconds.
unsigned long scaledUs(unsigned long us);
double factor();

}
