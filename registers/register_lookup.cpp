#include "registers/register_lookup.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "registers/values.h"

int register_index_of_address(const char* token) {
  if (!token || !all_digits(token)) return -1;
  unsigned long address = strtoul(token, nullptr, 10);
  return reg_find_by_address(address > 0xFFFFFF ? -1 : static_cast<int>(address));
}

int register_index_of(const char* token) {
  if (!token) return -1;
  if (all_digits(token)) return register_index_of_address(token);
  return reg_find_by_name(upper_cased(token).c_str(), MODBUS_REG_COUNT);
}

const modbus_reg_entry* find_register(const char* token) {
  if (!token) return nullptr;
  int index = register_index_of(token);
  if (all_digits(token)) {
    if (index < 0) {
      printf("Invalid address name: %s\n", token);
      msg_invalid_address(token);
      return nullptr;
    }
  } else {
    std::string name = upper_cased(token);
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
