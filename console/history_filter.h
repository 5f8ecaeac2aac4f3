// Which command lines the history file may keep. The history is a plain file in the home
// directory that outlives the session; a line that writes the device's secrets (the access codes
// of MB_LOG_IN, the passwords MB_SC_PASSWORD_OPERATOR and MB_SC_PASSWORD) must not stay there.
// Console thread only.
#pragma once

#include <string_view>

// Whether a command line typed at the prompt may go into the history: false for a WRITE whose
// register (by address or partial name, found as WRITE finds it) covers a secret word, for an RW
// of any type whose words touch one, and for a SETBIT that would change a bit of one; true for
// every other line. The decision is made on the line as typed, whether or not the command would
// go on to write (a WRITE refused for its type still holds the secret it was given).
bool history_keeps_line(std::string_view line);
