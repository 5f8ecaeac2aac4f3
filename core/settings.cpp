#include "core/settings.h"

#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "core/write_all.h"

struct lim_context {
  void* item_ctx;
  void* op_ctx;
};

namespace {

// One line of the file as read, with its line end (the last line may have none), and whether
// it belongs to our group (header included). Save writes the lines outside our group back
// from `raw`, so they keep every byte, carriage returns included.
struct file_line {
  std::string raw;
  bool ours;
};

struct parsed_file {
  std::vector<file_line> lines;
  std::vector<std::string> keys;    // item keys of our group, in file order
  std::vector<std::string> values;  // their unescaped values
  std::vector<int> line_numbers;
  bool has_group = false;
  bool byte_order_mark = false;  // the file starts with one; save keeps it
};

// Context of the test and repair operations during a load: lets a report name the line.
struct load_context {
  const char* file;
  const lim_readin_table* table;
};

// Keys a record asks for during the key-listing pass.
struct key_collector {
  std::set<std::string> keys;
};

const char* report_file = "";  // file name used in read-in reports of the running load

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// Splits "key = value" and unescapes a quoted value. Returns 0, -1 for a malformed line,
// -2 for an unterminated quote.
int parse_item_line(const std::string& line, std::string* key, std::string* value) {
  size_t eq = line.find('=');
  if (eq == std::string::npos) return -1;
  *key = trim(line.substr(0, eq));
  if (key->empty() || key->find_first_of(" \t\"") != std::string::npos) return -1;
  std::string rest = trim(line.substr(eq + 1));
  if (rest.empty() || rest[0] != '"') {
    *value = rest;
    return 0;
  }
  value->clear();
  size_t i = 1;
  for (; i < rest.size(); i++) {
    char c = rest[i];
    if (c == '\\' && i + 1 < rest.size()) {
      value->push_back(rest[++i]);
    } else if (c == '"') {
      break;
    } else {
      value->push_back(c);
    }
  }
  if (i >= rest.size()) return -2;
  if (!trim(rest.substr(i + 1)).empty()) return -1;
  return 0;
}

// The real file is about 10 KB; the bound keeps a stray huge file (a log, an image copied to
// the wrong name) from filling memory before a line of it is judged.
constexpr size_t MAX_FILE_SIZE = 1024 * 1024;

// Editors on other systems may start a UTF-8 text file with this mark; it is not part of the
// first line and is written back on save.
constexpr char BYTE_ORDER_MARK[] = "\xEF\xBB\xBF";
constexpr size_t BYTE_ORDER_MARK_SIZE = sizeof(BYTE_ORDER_MARK) - 1;

// Reads the whole file into text, at most MAX_FILE_SIZE bytes. Returns 1, 0 when the file does
// not exist, -1 when it can't be read or is too large (reported).
int read_whole_file(const char* file, std::string* text) {
  // Not blocking at the open, and only a regular file: a FIFO at the path would hold the start
  // until a writer came.
  int fd = open(file, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) return 0;
    printf("%s: cannot be read: %s\n", file, strerror(errno));
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    printf("%s: cannot be read: not a regular file\n", file);
    close(fd);
    return -1;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof(buf));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      printf("%s: cannot be read: %s\n", file, strerror(errno));
      close(fd);
      return -1;
    }
    if (n == 0) break;
    text->append(buf, static_cast<size_t>(n));
    // The file may grow while it is read, so the bound is kept while reading.
    if (text->size() > MAX_FILE_SIZE) {
      printf("%s: larger than 1 MiB, not read\n", file);
      close(fd);
      return -1;
    }
  }
  close(fd);
  return 1;
}

// Reads the file into lines and our group's items. Returns 1, 0 when the file does not
// exist, -1 on a read error, a file that is too large or a malformed line of our group
// (reported).
int parse_file(const char* file, const char* group, parsed_file* out, bool judge) {
  std::string content;
  int found = read_whole_file(file, &content);
  if (found <= 0) return found;
  if (content.compare(0, BYTE_ORDER_MARK_SIZE, BYTE_ORDER_MARK) == 0) {
    content.erase(0, BYTE_ORDER_MARK_SIZE);
    out->byte_order_mark = true;
  }
  std::string header = std::string("[") + group + "]";
  bool ours = false;
  int number = 0;
  int result = 1;
  size_t at = 0;
  while (at < content.size()) {
    size_t end = content.find('\n', at);
    end = end == std::string::npos ? content.size() : end + 1;
    std::string raw = content.substr(at, end - at);
    at = end;
    std::string text = raw;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    number++;
    std::string t = trim(text);
    if (!t.empty() && t[0] == '[') {
      ours = (t == header);
      if (ours) out->has_group = true;
      out->lines.push_back({raw, ours});
      continue;
    }
    out->lines.push_back({raw, ours});
    if (!ours || !judge || t.empty() || t[0] == '#') continue;
    std::string key, value;
    int rc = parse_item_line(t, &key, &value);
    if (rc == -2) {
      printf("%s:%d: unterminated quote\n", file, number);
      result = -1;
    } else if (rc < 0) {
      printf("%s:%d: not a setting line\n", file, number);
      result = -1;
    } else {
      out->keys.push_back(key);
      out->values.push_back(value);
      out->line_numbers.push_back(number);
    }
  }
  return result;
}

int compare_entries(const void* a, const void* b) {
  const lim_entry* ea = *static_cast<const lim_entry* const*>(a);
  const lim_entry* eb = *static_cast<const lim_entry* const*>(b);
  int c = strcmp(ea->key, eb->key);
  if (c != 0) return c;
  return ea->line - eb->line;
}

// Line number of a key in the running load, 0 when the file does not hold it.
int line_of(const void* op_ctx, const char* key) {
  if (!op_ctx) return 0;
  const lim_readin_table* table = static_cast<const load_context*>(op_ctx)->table;
  if (!table || table->count == 0) return 0;
  const void* found = bsearch(&key, table->entries, static_cast<size_t>(table->count),
                              sizeof(*table->entries), ilim_cmpInText);
  return found ? (*static_cast<const lim_entry* const*>(found))->line : 0;
}

// Parses a number in the C locale; fails on trailing text, NaN and infinities.
int parse_number(const char* text, double* value) {
  static locale_t c_locale = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
  char* end = nullptr;
  errno = 0;
  double v = strtod_l(text, &end, c_locale);
  if (end == text || errno == ERANGE || !std::isfinite(v)) return -1;
  while (*end == ' ' || *end == '\t') end++;
  if (*end != '\0') return -1;
  *value = v;
  return 0;
}

// Writes s to f in double quotes with \" and \\ escapes.
void write_quoted(FILE* f, const char* s, int size) {
  fputc('"', f);
  for (int i = 0; i < size && s[i]; i++) {
    if (s[i] == '"' || s[i] == '\\') fputc('\\', f);
    fputc(s[i], f);
  }
  fputc('"', f);
}

// Follows symbolic links from path to the file they end at, which need not exist yet (a link
// to a file still to be made). Returns 0, or -1 after reporting a loop of links.
int resolve_links(const char* path, std::string* target) {
  std::string p = path;
  // As many links as the kernel follows in one path before it gives up with ELOOP.
  for (int hops = 0; hops < 40; hops++) {
    struct stat st;
    if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *target = p;
      return 0;
    }
    char buf[PATH_MAX];
    ssize_t n = readlink(p.c_str(), buf, sizeof(buf) - 1);
    if (n <= 0) {
      printf("%s: cannot follow the link: %s\n", path, strerror(errno));
      return -1;
    }
    std::string link(buf, static_cast<size_t>(n));
    // A relative link is relative to the directory that holds the link.
    size_t slash = p.rfind('/');
    if (link[0] != '/' && slash != std::string::npos) link = p.substr(0, slash + 1) + link;
    p = link;
  }
  printf("%s: too many levels of symbolic links\n", path);
  return -1;
}

}  // namespace

int lim_toplevel(const char* group, void* record, unsigned op, lim_context* ctx,
                 lim_item_handler handler) {
  return handler(group, record, op, ctx ? ctx->item_ctx : nullptr, ctx ? ctx->op_ctx : nullptr);
}

const char* slim_actual_item(void* item_ctx, const char* key, int, int) {
  if (item_ctx) static_cast<key_collector*>(item_ctx)->keys.insert(key);
  return key;
}

int ilim_cmpInText(const void* key, const void* entry) {
  const char* k = *static_cast<const char* const*>(key);
  const lim_entry* e = *static_cast<const lim_entry* const*>(entry);
  return strcmp(k, e->key);
}

int lim_opReadinString(char* buf, int size, const lim_entry* const* entry, int*, unsigned, int) {
  if (!entry || size <= 0) return 1;
  const lim_entry* e = *entry;
  size_t len = strlen(e->value);
  if (len >= static_cast<size_t>(size)) {
    printf("%s:%d: %s: text longer than %d characters, cut\n", report_file, e->line, e->key,
           size - 1);
    len = static_cast<size_t>(size - 1);
  }
  memcpy(buf, e->value, len);
  buf[len] = '\0';
  return 1;
}

double flim_opReadinScalar(const char* key, const lim_entry* const* entry, int*, unsigned, int,
                           double current, double min, double max) {
  if (!entry) return current;
  const lim_entry* e = *entry;
  double v = 0;
  if (parse_number(e->value, &v) < 0) {
    printf("%s:%d: %s: \"%s\" is not a number, repaired to the default %.10G\n", report_file,
           e->line, key, e->value, current);
    return current;
  }
  if (v < min || v > max) {
    printf("%s:%d: %s: %.10G is out of range %.10G to %.10G, repaired to the default %.10G\n",
           report_file, e->line, key, v, min, max, current);
    return current;
  }
  return v;
}

int lim_opTypeoutString(const char* buf, int size, FILE* stream, const char* key, int) {
  if (!stream) return 1;
  fprintf(stream, "%s = ", key);
  write_quoted(stream, buf, size);
  fputc('\n', stream);
  return 1;
}

int lim_opTestRepairString(char* buf, int size, void* op_ctx, const char* key, int repair) {
  if (size <= 0 || memchr(buf, '\0', static_cast<size_t>(size))) return 1;
  if (repair) {
    buf[size - 1] = '\0';
    const char* file = op_ctx ? static_cast<load_context*>(op_ctx)->file : report_file;
    printf("%s:%d: %s: text longer than %d characters, cut\n", file, line_of(op_ctx, key), key,
           size - 1);
  }
  return repair ? 1 : 0;
}

int lim_opTestScalar(const char*, void*, int* flag, double value, double min, double max) {
  if (!(value >= min && value <= max)) {
    if (flag) *flag = 0;
    return 0;
  }
  return 1;
}

double flim_opRepairScalar(const char* key, void* op_ctx, double value, double min, double max,
                           double def) {
  if (value >= min && value <= max) return value;
  const char* file = op_ctx ? static_cast<load_context*>(op_ctx)->file : report_file;
  printf("%s:%d: %s: %.10G is out of range %.10G to %.10G, repaired to the default %.10G\n", file,
         line_of(op_ctx, key), key, value, min, max, def);
  return def;
}

int lim_loadFile(const char* file, const char* group, void* record, lim_callback callback) {
  lim_context ctx = {nullptr, nullptr};
  if (callback(group, record, LIM_OP_SET_DEFAULT, &ctx) != 1) return 0;

  parsed_file parsed;
  int rc = parse_file(file, group, &parsed, true);
  if (rc < 0) return 0;

  // Items under a misspelt header, or a file meant for another program, would otherwise be
  // ignored without a word and the tool would talk to the default address.
  if (rc == 1 && !parsed.has_group) printf("%s: no [%s] group, using the defaults\n", file, group);

  std::vector<lim_entry> storage(parsed.keys.size());
  std::vector<const lim_entry*> refs;
  if (rc == 1) {
    key_collector known;
    ctx.item_ctx = &known;
    if (callback(group, record, LIM_OP_NONE, &ctx) != 1) return 0;
    ctx.item_ctx = nullptr;
    for (size_t i = 0; i < parsed.keys.size(); i++) {
      storage[i] = {parsed.keys[i].c_str(), parsed.values[i].c_str(), parsed.line_numbers[i]};
      if (known.keys.count(parsed.keys[i]) == 0) {
        printf("%s:%d: unknown key \"%s\" ignored\n", file, parsed.line_numbers[i],
               parsed.keys[i].c_str());
        continue;
      }
      refs.push_back(&storage[i]);
    }
    // qsort must not be handed the null data of an empty vector.
    if (!refs.empty()) qsort(refs.data(), refs.size(), sizeof(refs[0]), compare_entries);
    // A key given twice: the later line counts.
    std::vector<const lim_entry*> unique;
    for (const lim_entry* e : refs) {
      if (!unique.empty() && strcmp(unique.back()->key, e->key) == 0) unique.pop_back();
      unique.push_back(e);
    }
    refs.swap(unique);
  }

  lim_readin_table table = {static_cast<int>(refs.size()), refs.data()};
  load_context lctx = {file, &table};
  report_file = file;
  int result = 1;
  if (rc == 1) {
    ctx.op_ctx = &table;
    result = callback(group, record, LIM_OP_READIN, &ctx);
  }
  if (result == 1) {
    ctx.op_ctx = &lctx;
    if (callback(group, record, LIM_OP_TEST, &ctx) != 1)
      result = callback(group, record, LIM_OP_REPAIR, &ctx);
  }
  report_file = "";
  fflush(stdout);
  return result == 1 ? 1 : 0;
}

int lim_saveFile(const char* file, const char* group, void* record, lim_callback callback) {
  // A link is saved through: the new file replaces the link's target, so the link and the
  // file it shares with others stay in place.
  std::string target;
  if (resolve_links(file, &target) < 0) return 0;
  struct stat st;
  bool exists = stat(target.c_str(), &st) == 0;
  // A file without any write bit was made read-only on purpose; replacing it by rename would
  // go around that (the directory's permission is all a rename asks for).
  if (exists && (st.st_mode & 0222) == 0) {
    printf("%s: no write permission, not replaced\n", file);
    return 0;
  }

  parsed_file parsed;
  if (parse_file(file, group, &parsed, false) < 0) return 0;

  char* body = nullptr;
  size_t body_len = 0;
  FILE* mem = open_memstream(&body, &body_len);
  if (!mem) return 0;
  fprintf(mem, "[%s]\n", group);
  lim_context ctx = {nullptr, mem};
  int result = callback(group, record, LIM_OP_TYPEOUT, &ctx);
  fclose(mem);
  std::string group_text(body, body_len);
  free(body);
  if (result != 1) return 0;

  std::string out;
  bool written = false;
  for (const file_line& l : parsed.lines) {
    if (!l.ours) {
      out += l.raw;
    } else if (!written) {
      out += group_text;
      written = true;
    }
  }
  if (!written) {
    if (!out.empty() && out.back() != '\n') out += "\n";
    if (!out.empty() && !(out.size() >= 2 && out.compare(out.size() - 2, 2, "\n\n") == 0))
      out += "\n";
    out += group_text;
  }
  if (parsed.byte_order_mark) out.insert(0, BYTE_ORDER_MARK);

  // The temporary file lies beside the target, so that the rename stays within its file system.
  std::string tmp = target + ".XXXXXX";
  std::vector<char> tmpl(tmp.begin(), tmp.end());
  tmpl.push_back('\0');
  int fd = mkstemp(tmpl.data());
  if (fd < 0) return 0;
  mode_t mode = 0644;
  if (exists) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  bool ok = fchmod(fd, mode) == 0 && write_all(fd, out) == 0 && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  if (!ok || rename(tmpl.data(), target.c_str()) != 0) {
    unlink(tmpl.data());
    return 0;
  }
  return 1;
}
