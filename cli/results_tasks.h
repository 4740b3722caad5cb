#pragma once

// The tasks that serve a collection tested on many machines: each machine runs `vellum --json` over
// its part of a list, then one machine checks that every listed archive has a verdict and records
// the verdicts in its ledger.

#include "command_line.h"

#include <functional>

namespace vellum {

// --check-results LIST RESULTS...: prints each name of the list that has no verdict in any of the
// results files, in the list's own form (so that the output is the list of a second pass), and on
// standard error each results file whose run did not end complete, then the count. Answers the
// exit status: 0 when every listed archive has a verdict and every results file is whole and
// complete, else 2.
// A stop signal (stopSignal() answers its number) ends it at the next line: 128 + the signal.
int checkResults(const CommandLine& commandLine, const std::function<int()>& stopSignal);

// --import RESULTS...: records every verdict the results files hold in the ledger, as if this
// machine had judged the archive when the other one did. A verdict the ledger already holds, or one
// older than the ledger's, changes nothing, so importing a file twice is the same as once.
// Answers the exit status: 0, 2 when a file could not be read whole, 3 when the ledger could not be
// used or written.
// A stop signal ends it at the next line, with what was recorded so far written: 128 + the signal.
int importResults(const CommandLine& commandLine, const std::function<int()>& stopSignal);

} // namespace vellum
