#include "registers/catalogue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(Catalogue, CountsPerType) {
  int per_type[REG_TYPE_COUNT] = {};
  for (const modbus_reg_entry& e : modbus_reg_table) {
    ASSERT_GE(e.type, 0);
    ASSERT_LT(e.type, REG_TYPE_COUNT);
    ++per_type[e.type];
  }
  const int expected[REG_TYPE_COUNT] = {0, 92, 113, 25, 9, 4, 1, 3, 1};
  for (int t = 0; t < REG_TYPE_COUNT; ++t) EXPECT_EQ(per_type[t], expected[t]) << reg_type_name(t);
  EXPECT_EQ(sizeof modbus_reg_table / sizeof modbus_reg_table[0], 248u);
}

TEST(Catalogue, TypeTables) {
  const char* names[] = {"RAW",           "FLOAT",         "WORD",
                         "DWORD",         "READ_CALIB",    "SET_CALIB",
                         "BYTE_ARRAY_06", "CHAR_ARRAY_10", "DWORD_ARRAY_10"};
  const int words[] = {0, 2, 1, 2, 15, 15, 3, 5, 20};
  for (int t = 0; t < REG_TYPE_COUNT; ++t) {
    EXPECT_STREQ(reg_type_name(t), names[t]);
    EXPECT_EQ(reg_words_of_type(t), words[t]);
  }
  EXPECT_STREQ(reg_type_name(9), "");
  EXPECT_EQ(reg_words_of_type(-1), 0);
}

TEST(Catalogue, AscendingExceptEntry207) {
  for (int i = 1; i < MODBUS_REG_COUNT; ++i) {
    int prev = modbus_reg_table[i - 1].address, cur = modbus_reg_table[i].address;
    if (i == 208) {
      EXPECT_GT(prev, cur);
    } else if (i == 215 || i == 217) {
      EXPECT_EQ(prev, cur) << i;
    } else if (i != 209) {
      EXPECT_LT(prev, cur) << i;
    }
  }
  EXPECT_EQ(modbus_reg_table[207].address, 6116);
  EXPECT_EQ(modbus_reg_table[208].address, 6113);
  EXPECT_EQ(modbus_reg_table[209].address, 6114);
}

TEST(Catalogue, NamesUniqueUpperCaseOnlyFourEndInSpace) {
  int trailing = 0;
  for (int i = 0; i < MODBUS_REG_COUNT; ++i) {
    const char* name = modbus_reg_table[i].name;
    size_t len = std::strlen(name);
    ASSERT_GT(len, 0u);
    if (name[len - 1] == ' ') {
      ++trailing;
      EXPECT_TRUE(i >= 208 && i <= 211) << name;
      --len;
    }
    EXPECT_EQ(std::strspn(name, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_"), len) << name;
    for (int j = 0; j < i; ++j) EXPECT_STRNE(name, modbus_reg_table[j].name);
    EXPECT_NE(modbus_reg_table[i].address, 0);
  }
  EXPECT_EQ(trailing, 4);
  EXPECT_STREQ(modbus_reg_table[208].name, "MB_DAVARER_BALANCE ");
  EXPECT_STREQ(modbus_reg_table[209].name, "MB_FORWARD_POW_READ ");
  EXPECT_STREQ(modbus_reg_table[210].name, "MB_REFLECTED_POW_CORRECTION ");
  EXPECT_STREQ(modbus_reg_table[211].name, "MB_REFLECTED_POW_READ ");
}

// Rows checked field by field; a slip in copying the map shows up in one of them or in the
// counts above.
TEST(Catalogue, SampleRows) {
  struct row {
    int index;
    int address;
    const char* name;
    int32_t type;
    const char* unit;
  };
  const row rows[] = {
      {0, 5120, "MB_STATE_SET", WORD, ""},
      {1, 5121, "MB_LOG_IN", CHAR_ARRAY_10, ""},
      {5, 5132, "MB_HV_SET", FLOAT, "V"},
      {29, 5220, "MB_CT_CVD_READ_DELAY", FLOAT, "*10 ns"},
      {55, 5288, "MB_FIL_SET_CAL", SET_CALIB, ""},
      {66, 5453, "MB_CALIB_SEQUENCE_ID", WORD, ""},
      {91, 5480, "MB_STATE_READ", WORD, ""},
      {96, 5489, "MB_EVENT_LOG_READ", DWORD_ARRAY_10, ""},
      {97, 5509, "MB_REMAINING_TIME", DWORD, "s"},
      {109, 5532, "MB_STANDBY_INTERLOCK", DWORD, ""},
      {117, 5561, "MB_MAC_ADDRESS", BYTE_ARRAY_06, ""},
      {137, 6000, "MB_ARC_COUNT_ACCUMULATED", DWORD, ""},
      {156, 6053, "TIP1N", WORD, ""},
      {195, 6092, "TIP20F", WORD, ""},
      {196, 6093, "MB_CCPS_DU_DT_LIMIT_LO", FLOAT, "V/t"},
      {212, 6125, "MB_PT100_A", FLOAT,
       "\xC2\xB0"
       "C"},
      {215, 6129, "M060_MB_PT100_MAG_TEMP", FLOAT, "°C"},
      {246, 6184, "MB_PULSE_WIDTH_DIFF_MULT", FLOAT, "*pw"},
      {247, 6186, "MB_FAN_CONTROL_PC_READ", FLOAT, "%"},
  };
  for (const row& r : rows) {
    const modbus_reg_entry& e = modbus_reg_table[r.index];
    EXPECT_EQ(e.address, r.address) << r.index;
    EXPECT_STREQ(e.name, r.name) << r.index;
    EXPECT_EQ(e.type, r.type) << r.index;
    EXPECT_STREQ(e.unit, r.unit) << r.index;
  }
  int celsius = 0;
  for (const modbus_reg_entry& e : modbus_reg_table) celsius += std::strcmp(e.unit, "°C") == 0;
  EXPECT_EQ(celsius, 8);
}

TEST(Catalogue, FindByName) {
  struct example {
    const char* pattern;
    const char* found;  // nullptr: not found
  };
  const example examples[] = {
      {"STATE", "MB_STATE_SET"},
      {"STATE_READ", "MB_STATE_READ"},
      {"MAX_AVERAGE", "MB_MAX_AVERAGE_POWER"},
      {"TIP1", "TIP1N"},
      {"PT100", "MB_PT100_A"},
      {"PT100_TANK", "MB_PT100_TANK_INTERLOCK_FILTER"},
      {"SET", "MB_RESET"},
      {"MB_", "MB_VSWR"},
      {"MAG_TEMP", "M060_MB_PT100_MAG_TEMP"},
      {"MB_DAVARER_BALANCE", "MB_DAVARER_BALANCE "},
      {"state", nullptr},
      {"NO_SUCH_REGISTER", nullptr},
  };
  for (const example& ex : examples) {
    int i = reg_find_by_name(ex.pattern, MODBUS_REG_COUNT);
    if (ex.found == nullptr) {
      EXPECT_EQ(i, -1) << ex.pattern;
    } else {
      ASSERT_GE(i, 0) << ex.pattern;
      EXPECT_STREQ(modbus_reg_table[i].name, ex.found) << ex.pattern;
    }
  }
  EXPECT_EQ(reg_find_by_name("MB_DAVARER_BALANCE", MODBUS_REG_COUNT), 208);
  EXPECT_EQ(reg_find_by_name("STATE", 0), -1);
  EXPECT_EQ(reg_find_by_name("STATE", -3), -1);
  EXPECT_EQ(reg_find_by_name(nullptr, MODBUS_REG_COUNT), -1);
  // Only the entries counted are searched: MB_STATE_READ is entry 91.
  EXPECT_EQ(reg_find_by_name("STATE_READ", 91), -1);
}

// Every register address the code names for itself is the address of the catalogue entry of that
// name, and that address leads back to the entry. The name is spelled once, in the row's macro
// argument, so a constant and the name it is checked against can't drift apart.
TEST(Catalogue, NamedAddressesMatchTheirEntries) {
  struct named_address {
    uint16_t address;
    const char* name;
  };
#define NAMED_ADDRESS(reg) \
  { reg##_ADDR, #reg }
  const named_address named[] = {
      NAMED_ADDRESS(MB_STATE_SET),
      NAMED_ADDRESS(MB_LOG_IN),
      NAMED_ADDRESS(MB_SC_PASSWORD_OPERATOR),
      NAMED_ADDRESS(MB_SC_PASSWORD),
      NAMED_ADDRESS(MB_FIL_SET),
      NAMED_ADDRESS(MB_RESET),
      NAMED_ADDRESS(MB_FIL_SET_CAL),
      NAMED_ADDRESS(MB_CALIB_SEQUENCE_ID),
      NAMED_ADDRESS(MB_CALIB_SEQUENCE_DAC_ADC),
      NAMED_ADDRESS(MB_STATE_READ),
      NAMED_ADDRESS(MB_PULSE_WIDTH_READ),
      NAMED_ADDRESS(MB_PRF_READ),
      NAMED_ADDRESS(MB_STANDBY_INTERLOCK),
      NAMED_ADDRESS(MB_HV_INTERLOCK),
      NAMED_ADDRESS(MB_TRIG_INTERLOCK),
  };
#undef NAMED_ADDRESS
  for (const named_address& n : named) {
    int index = reg_find_by_name(n.name, MODBUS_REG_COUNT);
    ASSERT_GE(index, 0) << n.name;
    EXPECT_STREQ(modbus_reg_table[index].name, n.name);
    EXPECT_EQ(modbus_reg_table[index].address, n.address) << n.name;
    EXPECT_EQ(reg_find_by_address(n.address), index) << n.name;
  }
}

TEST(Catalogue, FindByAddress) {
  const int examples[][2] = {
      {5120, 0},   {6186, 247}, {5119, -1},  {6187, -1},  {5122, -1},  {5133, -1},  {0, -1},
      {-5120, -1}, {6129, 214}, {6131, 216}, {6116, 207}, {6113, 208}, {6114, 209}, {5480, 91},
  };
  for (const auto& ex : examples) EXPECT_EQ(reg_find_by_address(ex[0]), ex[1]) << ex[0];
}

// The secret registers cover their five words each and nothing beside them.
TEST(Catalogue, SecretWords) {
  const struct {
    int address, count;
    bool secret;
  } cases[] = {
      {5120, 1, false}, {5120, 2, true},   {5125, 1, true},  {5126, 2, false}, {5178, 1, false},
      {5178, 2, true},  {5183, 1, true},   {5188, 1, true},  {5189, 2, false}, {5100, 64, true},
      {5124, 0, false}, {5140, 39, false}, {5140, 40, true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(reg_words_hold_secret(c.address, c.count), c.secret) << c.address << " " << c.count;
}

}  // namespace

// The read-back block's edges, names ending in _READ (trailing blank or not), and settings whose
// names only hold READ.
TEST(Catalogue, ReadBackRegisters) {
  const auto read_back = [](const char* name) {
    int i = reg_find_by_name(name, MODBUS_REG_COUNT);
    EXPECT_GE(i, 0) << name;
    return i >= 0 && reg_is_read_back(&modbus_reg_table[i]);
  };
  for (const char* name : {"MB_STATE_READ", "MB_MESSAGE", "MB_TACHO_COUNT_D",
                           "MB_FAN_CONTROL_PC_READ", "MB_FORWARD_POW_READ "})
    EXPECT_TRUE(read_back(name)) << name;
  for (const char* name : {"MB_CCPS_ITUNE_TARGET", "MB_ARC_COUNT_ACCUMULATED",
                           "MB_HV_VOLT_READ_H_LIM", "MB_FIL_VOLT_READ_CAL", "MB_CT_CVD_READ_DELAY"})
    EXPECT_FALSE(read_back(name)) << name;
}
