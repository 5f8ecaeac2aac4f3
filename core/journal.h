// The host's journal: a second, system-wide home for the audit trail of writes and calibration
// records, beside the files in the operator's home directory. Entries go to the local journal
// through libsystemd; where no journal listens (no socket) nothing happens and nothing is
// printed, and a failed send never fails a command. Turned off for a run by --no-journal, and
// for good by VELTRONA_TOOL_NO_JOURNAL set and not empty in the environment.
#pragma once

#include <string>
#include <vector>

// MESSAGE_ID of the entry of one register write, and of one calibration record (see
// doc/veltrona_tool.catalog, which explains both to journalctl -x).
constexpr char JOURNAL_WRITE_MESSAGE_ID[] = "582a3203c2ec4f4d95b59141e2f9275a";
constexpr char JOURNAL_CALIBRATION_MESSAGE_ID[] = "972b2dfecc5c4eecb953ca80c1f0abb4";

// The identifier field of every entry of the tool's (journalctl SYSLOG_IDENTIFIER=veltrona_tool).
constexpr char JOURNAL_IDENTIFIER_FIELD[] = "SYSLOG_IDENTIFIER=veltrona_tool";

// The environment variable that turns the journal off for good.
constexpr char JOURNAL_OFF_VARIABLE[] = "VELTRONA_TOOL_NO_JOURNAL";

// Turns the journal off for this run (--no-journal). Main thread, before the workers start.
void journal_turn_off();

// Whether entries are sent: not turned off, and the environment variable not set (read on the
// first call, which main makes before the workers start). Any thread afterwards.
bool journal_enabled();

// The command word whose handler is running (WRITE, SEND, ...), START while the tool logs in
// and replays the startup registers by itself at start. `word` must stay valid for good (a
// literal or a command table row). Console thread; read by the link thread with each write.
void journal_set_command(const char* word);
const char* journal_command();

// PRIORITY of an entry: "6" (info) when the outcome word is OK, "5" (notice) otherwise.
const char* journal_priority(const char* outcome_word);

// Hands one entry of FIELD=value texts (a value may hold line ends) to the sender thread, which
// sends it, so that a journal that takes nothing more never holds the caller. Returns 0, or a
// negative errno when it will not be sent (turned off, the sender's queue full); prints nothing.
// Where no journal listens the sender's send fails quietly. Any thread.
int journal_send(const std::vector<std::string>& fields);

// Waits until every entry handed over has been sent, at most timeout_ms. Main thread, once the
// workers have ended.
void journal_flush(int timeout_ms);
