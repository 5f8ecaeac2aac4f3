#include "core/tool_config.h"

#include <locale.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/messages.h"
#include "registers/catalogue.h"

tool_config_t tool_config;

namespace {

enum item_kind { ITEM_TEXT, ITEM_SIGNED, ITEM_UNSIGNED };

// Descriptor of one configuration item: where it lives in the record and what it accepts.
struct config_item {
  char key[32];
  item_kind kind;
  size_t offset;
  int size;  // text buffer size
  double lo, hi, def;
  const char* def_text;
};

const char* const default_ilock_standby[ILOCK_NAMES] = {
    "Filament Voltage Interlock",
    "Filament Current Interlock",
    "Customer Interface Standby 1 Interlock",
    "Tank Temperature 1 Interlock",
    "Tank Temperature 2 Interlock",
    "Tank cable interlock",
    "Customer Interface Standby 2 Interlock",
    "Magnetrone pt100 temp level interlock",
};

const char* const default_ilock_hv[ILOCK_NAMES] = {
    "Block Time 1 Interlock",
    "Communication Timeout Interlock",
    "Customer Interface HV Interlock 1",
    "Customer Interface HV Interlock 2",
    "CCPS PWM (short circuit) Interlock",
    "CCPS Over Voltage Interlock",
    "CCPS Over Current Interlock",
    "CCPS Temperature Interlock",
    "CCPS IGBT Interlock",
    "Davarer HV Ps 1 Interlock",
    "Davarer HV Ps 2 Interlock",
    "Tacho input 1",
    "Tacho input 2",
    "Tacho input 3",
    // Bits 14 to 30 have no name.
    // clang-format off
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    // clang-format on
    "CCPS open circuit interlock",
};

const char* const default_ilock_trig[ILOCK_NAMES] = {
    "Block Time 2 Interlock",
    "Hardware Customer Interface Trig Inhibited",
    "Too High PRF Interlock",
    "Short period Arc Interlock",
    "Long Period Arc Interlock",
    "Consecutive Arc Interlock",
    "Bias Power Supply Interlock",
    "Customer Interface Trig Interlock 1",
    "Customer Interface Trig Interlock 2",
    "Too high average power",
    "Too high Reflected power",
    "Duty cycle interlock",
};

struct item_table {
  config_item items[CONFIG_ITEMS];
  int count = 0;

  void add(const std::string& key, item_kind kind, size_t offset, int size, double lo, double hi,
           double def, const char* def_text) {
    config_item& it = items[count++];
    snprintf(it.key, sizeof(it.key), "%s", key.c_str());
    it.kind = kind;
    it.offset = offset;
    it.size = size;
    it.lo = lo;
    it.hi = hi;
    it.def = def;
    it.def_text = def_text ? def_text : "";
  }
  void text(const std::string& key, size_t offset, int size, const char* def) {
    add(key, ITEM_TEXT, offset, size, 0, 0, 0, def);
  }
  void number(const std::string& key, item_kind kind, size_t offset, double lo, double hi,
              double def) {
    add(key, kind, offset, 0, lo, hi, def, nullptr);
  }

  item_table() {
    text("sVersion", offsetof(tool_config_t, sVersion), 8, "10.1");
    text("sIpAddr", offsetof(tool_config_t, sIpAddr), 80, "127.0.0.1");
    number("iPort", ITEM_UNSIGNED, offsetof(tool_config_t, iPort), 21, 65535, 502);
    number("iStopOnQpxRun", ITEM_UNSIGNED, offsetof(tool_config_t, iStopOnQpxRun), 0, 1, 0);
    number("iPrintIlockChange", ITEM_UNSIGNED, offsetof(tool_config_t, iPrintIlockChange), 0, 1, 0);
    for (int i = 0; i < CAL_DEFINITIONS; i++) {
      std::string k = "cal[" + std::to_string(i) + "].";
      size_t base = offsetof(tool_config_t, cal) + i * sizeof(cal_definition);
      bool first = i == 0;
      number(k + "use", ITEM_SIGNED, base + offsetof(cal_definition, use), 0, 1, first ? 1 : 0);
      number(k + "iType", ITEM_SIGNED, base + offsetof(cal_definition, iType), 0, 2, 0);
      text(k + "sMsg", base + offsetof(cal_definition, sMsg), 32, first ? "Filament Set" : "");
      number(k + "iRegCal", ITEM_SIGNED, base + offsetof(cal_definition, iRegCal), 0, 65535,
             first ? MB_FIL_SET_CAL_ADDR : 0);
      number(k + "iRegSet", ITEM_SIGNED, base + offsetof(cal_definition, iRegSet), 0, 65535,
             first ? MB_FIL_SET_ADDR : 0);
      number(k + "iRegRead", ITEM_SIGNED, base + offsetof(cal_definition, iRegRead), 0, 65535, 0);
      number(k + "iState", ITEM_SIGNED, base + offsetof(cal_definition, iState), 0, 9,
             first ? 3 : 0);
      number(k + "iStep", ITEM_SIGNED, base + offsetof(cal_definition, iStep), 0, 65535, 1);
    }
    struct {
      const char* array;
      size_t offset;
      const char* const* defaults;
    } ilocks[3] = {
        {"ilock_standby", offsetof(tool_config_t, ilock_standby), default_ilock_standby},
        {"ilock_hv", offsetof(tool_config_t, ilock_hv), default_ilock_hv},
        {"ilock_trig", offsetof(tool_config_t, ilock_trig), default_ilock_trig},
    };
    for (const auto& group : ilocks) {
      for (int j = 0; j < ILOCK_NAMES; j++) {
        text(std::string(group.array) + "[" + std::to_string(j) + "].name",
             group.offset + j * sizeof(ilock_name), ILOCK_NAME_SIZE, group.defaults[j]);
      }
    }
    for (int i = 0; i < STARTUP_ENTRIES; i++) {
      std::string k = "startup[" + std::to_string(i) + "].";
      size_t base = offsetof(tool_config_t, startup) + i * sizeof(startup_entry);
      number(k + "iReg", ITEM_SIGNED, base + offsetof(startup_entry, iReg), 0, 65535, 0);
      number(k + "raw_value", ITEM_UNSIGNED, base + offsetof(startup_entry, raw_value), 0,
             4294967295.0, 0);
    }
  }
};

const item_table& items() {
  static const item_table table;
  return table;
}

double get_number(const config_item& it, const char* field) {
  if (it.kind == ITEM_UNSIGNED) {
    uint32_t v;
    memcpy(&v, field, sizeof(v));
    return static_cast<double>(v);
  }
  int32_t v;
  memcpy(&v, field, sizeof(v));
  return static_cast<double>(v);
}

// Truncates toward zero; unsigned fields go through 64 bits so values above 2^31 survive.
void set_number(const config_item& it, char* field, double value) {
  if (it.kind == ITEM_UNSIGNED) {
    uint32_t v = static_cast<uint32_t>(static_cast<int64_t>(value));
    memcpy(field, &v, sizeof(v));
  } else {
    int32_t v = static_cast<int32_t>(value);
    memcpy(field, &v, sizeof(v));
  }
}

// Writes "key = value" with the C numeric locale, whatever locale the process runs in.
void type_out_number(FILE* stream, const char* key, double value) {
  const char* current = setlocale(LC_NUMERIC, nullptr);
  char saved[128] = "";
  bool have_name = current != nullptr;
  if (have_name) snprintf(saved, sizeof(saved), "%s", current);
  setlocale(LC_NUMERIC, "C");
  fprintf(stream, "%s = %.10G\n", key, value);
  setlocale(LC_NUMERIC, have_name ? saved : "");
}

// Binary search of the read-in table; null when the file does not hold the key.
const lim_entry* const* find_entry(void* op_ctx, const char* key) {
  const lim_readin_table* t = static_cast<const lim_readin_table*>(op_ctx);
  if (!t || t->count == 0) return nullptr;
  return static_cast<const lim_entry* const*>(bsearch(
      &key, t->entries, static_cast<size_t>(t->count), sizeof(*t->entries), ilim_cmpInText));
}

void apply(const config_item& it, char* field, unsigned op, const char* key, void* op_ctx,
           int* flag) {
  if (it.kind == ITEM_TEXT) {
    switch (op) {
      case LIM_OP_SET_DEFAULT:
        snprintf(field, static_cast<size_t>(it.size), "%s", it.def_text);
        break;
      case LIM_OP_TEST:
        if (lim_opTestRepairString(field, it.size, op_ctx, key, 0) != 1) *flag = 0;
        break;
      case LIM_OP_REPAIR:
        lim_opTestRepairString(field, it.size, op_ctx, key, 1);
        break;
      case LIM_OP_CLEAR:
        field[0] = '\0';
        break;
      case LIM_OP_TYPEOUT:
      case LIM_OP_TYPEOUT_ALT:
        lim_opTypeoutString(field, it.size, static_cast<FILE*>(op_ctx), key, 0);
        break;
      default:
        if (op >= LIM_OP_READIN && op <= LIM_OP_READIN_LAST) {
          lim_opReadinString(field, it.size, find_entry(op_ctx, key), flag, op, 0);
        }
        break;
    }
    return;
  }
  switch (op) {
    case LIM_OP_SET_MINIMUM:
      set_number(it, field, it.lo);
      break;
    case LIM_OP_SET_MAXIMUM:
      set_number(it, field, it.hi);
      break;
    case LIM_OP_SET_DEFAULT:
      set_number(it, field, it.def);
      break;
    case LIM_OP_TEST:
      lim_opTestScalar(key, op_ctx, flag, get_number(it, field), it.lo, it.hi);
      break;
    case LIM_OP_REPAIR:
      set_number(it, field,
                 flim_opRepairScalar(key, op_ctx, get_number(it, field), it.lo, it.hi, it.def));
      break;
    case LIM_OP_CLEAR:
      field[0] = 0;
      break;
    case LIM_OP_TYPEOUT:
    case LIM_OP_TYPEOUT_ALT:
      if (op_ctx) type_out_number(static_cast<FILE*>(op_ctx), key, get_number(it, field));
      break;
    default:
      if (op >= LIM_OP_READIN && op <= LIM_OP_READIN_LAST) {
        set_number(it, field,
                   flim_opReadinScalar(key, find_entry(op_ctx, key), flag, op, 0,
                                       get_number(it, field), it.lo, it.hi));
      }
      break;
  }
}

}  // namespace

int tool_config_items(const char* group, void* record, unsigned op, void* item_ctx, void* op_ctx) {
  int result = 1;
  if (strcmp(group, CONFIG_GROUP_NAME) != 0) return iMessageMod_va(MSG_FOREIGN_GROUP, 1, group);
  char* base = static_cast<char*>(record);
  const item_table& table = items();
  for (int i = 0; i < table.count; i++) {
    const config_item& it = table.items[i];
    const char* key = slim_actual_item(item_ctx, it.key, 0, 0);
    apply(it, base + it.offset, op, key, op_ctx, &result);
  }
  return result;
}

int tool_config_callback(const char* group, void* record, unsigned op, lim_context* ctx) {
  return lim_toplevel(group, record, op, ctx, tool_config_items);
}

namespace {
// Set by the main thread before loading, then only read (the console's saves).
const char* config_file = CONFIG_FILE_NAME;
}  // namespace

void tool_config_set_file(const char* path) { config_file = path; }

const char* tool_config_file() { return config_file; }

// The settings library says 1 for done; the tool's own functions say 0 or a negative number.
int tool_config_load() {
  return lim_loadFile(config_file, CONFIG_GROUP_NAME, &tool_config, tool_config_callback) == 1 ? 0
                                                                                               : -1;
}

int tool_config_save() {
  return lim_saveFile(config_file, CONFIG_GROUP_NAME, &tool_config, tool_config_callback) == 1 ? 0
                                                                                               : -1;
}
