#include "registers/register_lookup.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "registers/values.h"

const modbus_reg_entry* find_register(const char* token) {
  if (!token) return nullptr;
  int index;
  if (all_digits(token)) {
    unsigned long address = strtoul(token, nullptr, 10);
    index = reg_find_by_address(address > 0xFFFFFF ? -1 : static_cast<int>(address));
    if (index < 0) {
      printf("Invalid address name: %s\n", token);
      msg_invalid_address(token);
      return nullptr;
    }
  } else {
    std::string name = upper_cased(token);
    index = reg_find_by_name(name.c_str(), MODBUS_REG_COUNT);
    if (index < 0) {
      printf("Invalid reg name: %s\n", name.c_str());
      msg_invalid_address(name.c_str());
      return nullptr;
    }
  }
  return &modbus_reg_table[index];
}

void print_register_header(const modbus_reg_entry* entry) {
  printf("%s (%d, %s)\n", entry->name, entry->address, reg_type_name(entry->type));
}

void msg_invalid_address(const char* token) { printf("Invalid address: %s\n", token); }
