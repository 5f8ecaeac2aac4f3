#include "console/tokenizer.h"

char* next_token(char** cursor) {
  if (!cursor || !*cursor) return nullptr;
  char* p = *cursor;
  while (*p == ' ') p++;
  if (*p == '\0') {
    *cursor = p;
    return nullptr;
  }
  char* token = p;
  while (*p != '\0' && *p != ' ') p++;
  if (*p == ' ') *p++ = '\0';
  *cursor = p;
  return token;
}

command_args take_all_tokens(char** cursor) {
  command_args tokens;
  while (char* token = next_token(cursor)) tokens.emplace_back(token);
  return tokens;
}

bool is_comment_line(std::string_view line) {
  size_t first = line.find_first_not_of(" \t");
  return first != std::string_view::npos && line[first] == '#';
}
