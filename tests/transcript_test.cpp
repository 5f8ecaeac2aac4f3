// Reading transcript files (tests/transcript.h): what a case's lines turn into, and the errors
// of the lines the runner must not guess about.
#include "tests/transcript.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/harness.h"

namespace {

// Each body is read as the case "== c" (after its blocks, when it starts with them): per run the
// typed input, the expected output, and where each line is typed and input ends (^D: end, ^C: the
// signal goes there) as lengths of the output before them. A block stands for its lines.
TEST(Transcript, SessionLinesAreInputAndOutput) {
  struct run {
    std::string input, output, at;
  };
  const struct {
    std::string body;
    std::vector<run> runs;
  } table[] = {
      {">> STATE 3\nWrite ok\n[Filament Set,1]>> SET 12.5\nWrite 12.5\n>> ^D\nExit.\n\n\n",
       {{"STATE 3\nSET 12.5\n", ">> Write ok\n[Filament Set,1]>> Write 12.5\n>> Exit.\n",
         "{ 3, 31 } end 45"}}},
      {">>  WRITE 5120 3 \nSend? {  }\nContinue? (y/n): {y}\nLogin fail!\n>>x\nA {b\n\n>> {}\n>> "
       "\n",
       {{" WRITE 5120 3 \n  \ny\n\n\n",
         ">> Send? Continue? (y/n): Login fail!\n>>x\nA {b\n\n>> >> ",
         "{ 3, 9, 26, 51, 54 } end 0"}}},
      {">> A\n--- restart\n>> B\n", {{"A\n", ">> ", "{ 3 } end 0"}, {"B\n", ">> ", "{ 3 } end 0"}}},
      {"@define menu\nMenu:\n1 : Set\n@end\n== c\n>> CALIBRATE\n@menu\nSelect: {1}\n"
       "[Set,1]>> ADD\nGo on? {^C}\nExit.\n",
       {{"CALIBRATE\n1\nADD\n", ">> Menu:\n1 : Set\nSelect: [Set,1]>> Go on? Exit.\n",
         "{ 3, 25, 35 } ^C 42"}}},
  };
  for (const auto& t : table) {
    std::vector<scripted_case> cases =
        parse_transcript(t.body.starts_with("@") ? t.body : "== c\n" + t.body, "t.txt");
    ASSERT_EQ(cases.size(), 1u);
    EXPECT_EQ(cases[0].error, "") << t.body;
    ASSERT_EQ(cases[0].runs.size(), t.runs.size()) << t.body;
    for (size_t k = 0; k < t.runs.size(); k++) {
      const scripted_run& r = cases[0].runs[k];
      std::string at = testing::PrintToString(r.typed_at) + (r.interrupted ? " ^C " : " end ");
      EXPECT_EQ(r.input, t.runs[k].input) << t.body;
      EXPECT_EQ(r.output, t.runs[k].output) << t.body;
      EXPECT_EQ(at + std::to_string(r.interrupt_at), t.runs[k].at) << t.body;
    }
  }
}

TEST(Transcript, SetupAndChecksAroundTheSession) {
  std::vector<scripted_case> cases = parse_transcript(
      "# about the file\n\n"
      "== first\n"
      "# why\n"
      "preset 5200 0x0805\n"
      "preset 5126 f:12.5 7*2\n"
      "config use = 0\n"
      "sim DELAY 700\n"
      "args -e  --x -c 'READ 5120' -q\n"
      "put s.txt READ 5120\n"
      ">> SETBIT 5200 1 0\n"
      "writes 5200 0x0805\n"
      "\n"
      "writes/6 5120 3\n"
      "file veltrona_tool.conf has startup[0].iReg = 0\n"
      "file x unchanged\n"
      "stderr Bad option\n"
      "status 2\n"
      "== second\n"
      ">> ^D\n",
      "t.txt");
  ASSERT_EQ(cases.size(), 2u);
  const scripted_case& c = cases[0];
  EXPECT_EQ(c.error, "");
  EXPECT_EQ(c.name, "first");
  EXPECT_EQ(c.where, "t.txt:3");
  EXPECT_EQ(c.presets,
            (std::vector<sim_write>{{0, 5200, {0x0805}}, {0, 5126, {0x0000, 0x4148, 7, 7}}}));
  EXPECT_EQ(c.config, std::vector<std::string>{"use = 0"});
  EXPECT_EQ(c.sim_commands, std::vector<std::string>{"DELAY 700"});
  EXPECT_EQ(c.args, (std::vector<std::string>{"-e", "--x", "-c", "READ 5120", "-q"}));
  ASSERT_EQ(c.puts.size(), 1u);
  EXPECT_EQ(c.puts[0].name + "|" + c.puts[0].line, "s.txt|READ 5120");
  ASSERT_EQ(c.runs.size(), 1u);
  EXPECT_EQ(c.runs[0].input, "SETBIT 5200 1 0\n");
  EXPECT_EQ(c.runs[0].output, ">> ");
  EXPECT_EQ(c.writes, (std::vector<sim_write>{{16, 5200, {0x0805}}, {6, 5120, {3}}}));
  ASSERT_EQ(c.files.size(), 2u);
  EXPECT_EQ(c.files[0].name, "veltrona_tool.conf");
  EXPECT_EQ(c.files[0].line, "startup[0].iReg = 0");
  EXPECT_FALSE(c.files[0].unchanged);
  EXPECT_TRUE(c.files[1].unchanged);
  EXPECT_EQ(c.err, "Bad option\n");
  EXPECT_EQ(c.status, 2);
  EXPECT_EQ(cases[1].name, "second");
  EXPECT_TRUE(cases[1].writes.empty() && cases[1].args.empty() && cases[1].status == 0);
}

TEST(Transcript, LinesItCannotReadAreErrorsWithTheirLine) {
  const struct {
    const char* text;
    const char* error;
  } table[] = {
      {"stray\n== c\n>> A\n", "t.txt:1: text before the first case"},
      {"== two words\n>> A\n", "t.txt:1: a case name is letters, digits and '_'"},
      {"== c\npreset 5200\n>> A\n", "t.txt:2: no words in: 5200"},
      {"== c\npreset 70000 1\n>> A\n", "t.txt:2: bad address in: 70000 1"},
      {"== c\npreset 5200 0x10000\n>> A\n", "t.txt:2: bad word 0x10000"},
      {"== c\npreset 5200 f:1.5x\n>> A\n", "t.txt:2: bad float f:1.5x"},
      {"== c\npreset 5200 1*0\n>> A\n", "t.txt:2: bad count in 1*0"},
      {"== c\nsim\n>> A\n", "t.txt:2: sim without arguments"},
      {"== c\n>> ^D\n>> A\n", "t.txt:3: input after ^D"},
      {"== c\n>> ^C\n>> A\n", "t.txt:3: input after ^C"},
      {"@define m\nA\n@end\n== c\n@m\n@n\n", "t.txt:6: no block @n"},
      {"@define m\n>> ^D\n@end\n== c\n>> A\n@m\n>> B\n", "t.txt:7: input after ^D"},
      {"== c\n>> A\nwrites/x 5120 1\n", "t.txt:3: bad function in writes/x"},
      {"== c\n>> A\nfile a.txt\n", "t.txt:3: file NAME has LINE, or file NAME unchanged"},
      {"== c\n>> A\nstatus -1\n", "t.txt:3: bad status -1"},
      {"== c\nconfig a = 1\n\nstatus 1\n", "t.txt:4: no session lines"},
  };
  for (const auto& t : table) {
    std::vector<scripted_case> cases = parse_transcript(t.text, "t.txt");
    ASSERT_FALSE(cases.empty()) << t.text;
    EXPECT_EQ(cases[0].error, t.error) << t.text;
  }
}

TEST(Transcript, WritesLineAndFirstDifference) {
  EXPECT_EQ(writes_line({16, 5126, float_words(12.5f)}), "writes 5126 0x0000 0x4148");
  EXPECT_EQ(writes_line({6, 5120, {3}}), "writes/6 5120 0x0003");
  EXPECT_EQ(first_difference("a\nb\n", "a\nb\n"), "");
  EXPECT_EQ(first_difference("a\nb\nc\n", "a\nB\nc\n"),
            "line 2 differs:\n  expected: b\n  actual:   B\n");
  EXPECT_EQ(first_difference("a\n", "a\nExit.\n"),
            "line 2 differs:\n  expected: <end>\n  actual:   Exit.\n");
  EXPECT_EQ(first_difference("a\n>> ", "a\n>> Exit.\n"),
            "line 2 differs:\n  expected: >> <no line end>\n  actual:   >> Exit.\n");
}

// A wildcard takes only its own shape; a line it does not fit stays as it came and differs.
TEST(Transcript, WildcardForATime) {
  const std::string want = "<time>  A=1\nplain\n";
  const std::pair<const char*, const char*> cases[] = {
      {"14:03:12  A=1\nplain\n", "<time>  A=1\nplain\n"},
      {"14:03  A=1\n", "14:03  A=1\n"},
      {"14:03:1x  A=1\n", "14:03:1x  A=1\n"},
      {"14:03:12  A=2\n", "14:03:12  A=2\n"},
      {"14:03:12  A=1", "<time>  A=1"},
      {"a\nb\nc\n", "a\nb\nc\n"},
  };
  for (const auto& [actual, after] : cases)
    EXPECT_EQ(match_wildcards(want, actual), after) << actual;
}

}  // namespace
