#include "core/messages.h"

#include <cstdarg>
#include <cstdio>

int iMessageMod_va(int number, int severity, ...) {
  va_list ap;
  va_start(ap, severity);
  switch (number) {
    case MSG_FOREIGN_GROUP: {
      const char* group = va_arg(ap, const char*);
      printf("Settings group \"%s\" is not known to this tool.\n", group ? group : "");
      break;
    }
    default:
      printf("Message 0x%X.\n", static_cast<unsigned>(number));
      break;
  }
  va_end(ap);
  fflush(stdout);
  return severity == 1 ? 0 : 1;
}
