// Settings library: reads and writes one group of a text configuration file by driving a
// record's item handler through numbered operations.
//
// File format:
//   [group_name]            starts a group; our group runs to the next group header
//   key = value             an item; blanks around '=' are optional
//   # comment               a line whose first non-blank character is '#'
//   (blank lines are ignored)
// Text values are written in double quotes with \" and \\ escapes; an unquoted value is the
// rest of the line without surrounding blanks. Numbers are read in any decimal or exponent
// form, always in the C numeric locale. A UTF-8 byte order mark at the start of the file is
// skipped on reading and kept on saving. A file larger than 1 MiB is refused.
//
// All functions run on the thread that loads or saves (main thread at start, console thread
// afterwards); none of them is thread-safe.
#pragma once

#include <cstdio>

// Operation codes passed to an item handler.
enum lim_operation : unsigned {
  LIM_OP_SET_MINIMUM = 0,
  LIM_OP_SET_MAXIMUM = 1,
  LIM_OP_SET_DEFAULT = 2,
  LIM_OP_TEST = 3,
  LIM_OP_REPAIR = 4,
  LIM_OP_CLEAR = 5,
  LIM_OP_TYPEOUT = 6,
  LIM_OP_TYPEOUT_ALT = 7,
  LIM_OP_READIN = 8,
  LIM_OP_READIN_LAST = 11,
  LIM_OP_NONE = 12,  // does nothing; used to list the keys of a group
};

struct lim_context;

// One entry of the read-in table: an item as it stood in the file.
struct lim_entry {
  const char* key;
  const char* value;  // unescaped text
  int line;           // line number in the file, from 1
};

// Read-in context: the operation context of the read-in operations.
struct lim_readin_table {
  int count;
  const lim_entry** entries;  // sorted by ilim_cmpInText
};

// The record's callback: receives what the library hands it and must pass it unchanged to
// lim_toplevel together with the record's item handler.
typedef int (*lim_callback)(const char* group, void* record, unsigned op, lim_context* ctx);
typedef int (*lim_item_handler)(const char* group, void* record, unsigned op, void* item_ctx,
                                void* op_ctx);

// Load the group from the file. A missing file loads the defaults and succeeds; a file without
// the group is reported on standard output and loads the defaults too. Bad values are reported
// on standard output and repaired; malformed lines, a file that can't be read and a file larger
// than 1 MiB make the load fail. Returns 1 on success, 0 on failure.
int lim_loadFile(const char* file, const char* group, void* record, lim_callback callback);

// Rewrite the group in the file from the record, keeping every line outside the group.
// The file is replaced atomically and keeps its permission bits; on failure the old file stays
// as it was. When the file is a symbolic link, the file it points to is replaced and the link
// stays. A file without any write permission bit is not replaced (reported on standard output).
// Returns 1 when the group was written, 0 otherwise.
int lim_saveFile(const char* file, const char* group, void* record, lim_callback callback);

// Runs the item handler with the item context and operation context held in ctx.
int lim_toplevel(const char* group, void* record, unsigned op, lim_context* ctx,
                 lim_item_handler handler);

// Returns the full key of an item (also its handle) and lets the library note which keys the
// record knows.
const char* slim_actual_item(void* item_ctx, const char* key, int reserved1, int reserved2);

// Stores the entry's text into buf (terminated, cut to size). A null entry leaves buf as it is.
int lim_opReadinString(char* buf, int size, const lim_entry* const* entry, int* flag, unsigned code,
                       int reserved);
// Returns the entry's numeric value, or current when entry is null or the value is unusable.
double flim_opReadinScalar(const char* key, const lim_entry* const* entry, int* flag, unsigned code,
                           int reserved, double current, double min, double max);
// Writes one line `key = "text"` to stream; a null stream writes nothing.
int lim_opTypeoutString(const char* buf, int size, FILE* stream, const char* key, int reserved);
// Tests that buf holds a terminated text within size; with repair set, terminates it.
int lim_opTestRepairString(char* buf, int size, void* op_ctx, const char* key, int repair);
// Lowers *flag to 0 when value is outside [min, max].
int lim_opTestScalar(const char* key, void* op_ctx, int* flag, double value, double min,
                     double max);
// Returns value when it lies within [min, max], otherwise reports and returns def.
double flim_opRepairScalar(const char* key, void* op_ctx, double value, double min, double max,
                           double def);
// Orders read-in entries: key is the address of a variable holding a key text.
int ilim_cmpInText(const void* key, const void* entry);
