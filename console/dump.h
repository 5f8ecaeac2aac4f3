// DUMP: every catalogue register read and written to a text file. Console thread only.
#pragma once

void cmd_dump(char** args);
