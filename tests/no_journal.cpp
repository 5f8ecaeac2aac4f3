// Linked into every test binary: the writes and calibration records that tests make, in process
// or through the tools they start, never reach the journal of the host that runs them. The
// journal's own test turns it on again for the tools it starts.
#include <cstdlib>

namespace {

const int journal_off = setenv("VELTRONA_TOOL_NO_JOURNAL", "1", 1);

}  // namespace
