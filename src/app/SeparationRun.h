#pragma once
// The whole separation: command line, input, analysis, factorisation loop
// with its progress lines, the optional W and H text files, then the residual
// and one sound per component, in that order.

namespace tessavo {

// Runs the program on its process arguments and returns the exit status:
// 0 when every output was written. Failures throw RunError (or a standard
// exception) for the entry point to report with status 1.
int runSeparation(int argc, const char* const* argv);

}  // namespace tessavo
