// The example configuration shipped with the tool must be exactly what the tool writes for its
// default record, so that it never drifts from the item table.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "core/tool_config.h"

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(ConfigExample, EqualsTypeOutOfDefaultRecord) {
  static tool_config_t record;
  lim_context* no_context = nullptr;
  ASSERT_EQ(tool_config_callback(CONFIG_GROUP_NAME, &record, LIM_OP_SET_DEFAULT, no_context), 1);
  char dir[] = "/tmp/vt_example_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string path = std::string(dir) + "/veltrona_tool.conf";
  ASSERT_EQ(lim_saveFile(path.c_str(), CONFIG_GROUP_NAME, &record, tool_config_callback), 1);
  std::string written = read_file(path);
  unlink(path.c_str());
  rmdir(dir);
  if (const char* out = getenv("VT_WRITE_EXAMPLE")) std::ofstream(out, std::ios::binary) << written;
  EXPECT_EQ(read_file(VT_EXAMPLE_CONFIG), written);
}

}  // namespace
