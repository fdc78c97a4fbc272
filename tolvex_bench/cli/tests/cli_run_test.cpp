// Runs the built tolvex_cli as a user would and compares its whole output.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "commands.hpp"

namespace {

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

std::string read_file(const std::string &path) {
  std::ifstream f(path);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// Runs tolvex_cli with the given argument text (shell syntax), stdin from `input`, in
// the folder `cwd` when one is given.
CliRun run_cli(const std::string &args, const std::string &input = "", const std::string &cwd = "") {
  char dir_template[] = "/tmp/tolvex_cli_test_XXXXXX";
  const char *dir = mkdtemp(dir_template);
  if (dir == nullptr) return {};
  const std::string in_path = std::string(dir) + "/in";
  const std::string err_path = std::string(dir) + "/err";
  std::ofstream(in_path) << input;
  const std::string command = (cwd.empty() ? std::string() : "cd " + cwd + " && ") + std::string(TOLVEX_CLI_PATH) +
                              " " + args + " <" + in_path + " 2>" + err_path;
  CliRun r;
  FILE *p = popen(command.c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int raw = pclose(p);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.err = read_file(err_path);
  std::remove(in_path.c_str());
  std::remove(err_path.c_str());
  rmdir(dir);
  return r;
}

std::string bracketed(const std::string &bytes) {
  std::string out;
  char group[8];
  for (unsigned char c : bytes) {
    std::snprintf(group, sizeof group, "[%02X]", c);
    out += group;
  }
  return out;
}

#define REQUIRE_SIM()                                                  \
  do {                                                                 \
    if (!TOLVEX_CLI_WITH_SIM) GTEST_SKIP() << "built without the simulated terminal"; \
  } while (0)

TEST(CliUsage, BadArgumentsExit2AndSendNothing) {
  // A missing port proves that nothing was opened: usage errors come first.
  const std::string port = "--port /nonexistent/tolvex-port ";
  struct Case {
    std::string args;
    std::string message;
  } cases[] = {
      {"modle", "unknown command 'modle'"},
      {"model 1", "'model' takes 0 arguments, got 1"},
      {"card_stk_mov 1", "takes 2 arguments, got 1"},
      {"card_mov 256", "destination:u8: number 256 out of range 0 to 255"},
      {"card_mov x1", "'x1' is not a number"},
      {"ic_exe 0A1", "odd number of hex digits"},
      {"ic_exe 0G", "invalid hex digit 'G'"},
      {"mi_ultra_wt 4 0102030405", "at most 4"},
      {"EnablePort /dev/null 8 0 0 9600 0", "not a terminal command"},
      {"exe_stop", "not a terminal command"},
      {"", "no command given"},
  };
  for (const Case &c : cases) {
    const CliRun r = run_cli(port + c.args);
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_EQ(r.out, "") << c.args;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << " -> " << r.err;
    EXPECT_EQ(r.err.find("cannot open"), std::string::npos) << c.args;
  }
  EXPECT_EQ(run_cli("--baud 1234 model").status, 2);
  EXPECT_EQ(run_cli("--view raw model").status, 2);
  EXPECT_EQ(run_cli("--sim --port COM2 model").status, 2);
  EXPECT_EQ(run_cli("--script - model").status, 2);

  // A script with a bad line sends nothing, not even its good lines.
  const CliRun script = run_cli(port + "--script -", "model\ncard_mov 9999\n");
  EXPECT_EQ(script.status, 2);
  EXPECT_EQ(script.out, "");
  EXPECT_NE(script.err.find("<stdin>:2: destination:u8: number 9999 out of range"), std::string::npos) << script.err;
}

TEST(CliUsage, HelpListsEveryCommand) {
  const CliRun r = run_cli("--help");
  EXPECT_EQ(r.status, 0);
  for (const char *line : {"model", "card_stk_mov stacker:u8 destination:u8", "mi_wt_sct sector:u8 data:hex51",
                           "exe code:str [data:hex]", "sl2_wt_all data:hex112", "card_hold", "delay ms:int"}) {
    EXPECT_NE(r.out.find(std::string("  ") + line + " "), std::string::npos) << line;
  }
  EXPECT_NE(r.out.find("read the terminal's model [C11]"), std::string::npos);
  // Every row of the export table the tool sends, and "exe", has its usage line; the
  // ones the tool calls itself are not listed.
  for (const tolvex::cli::Command &c : tolvex::cli::commands()) {
    std::string usage = "\n  " + std::string(c.name);
    if (!c.signature.empty()) usage += " " + std::string(c.signature);
    EXPECT_EQ(r.out.find(usage) != std::string::npos, c.role != tolvex::cli::Role::Refused) << c.name;
  }
  EXPECT_NE(r.out.find("--keep-going"), std::string::npos);
  // One usage block.
  const std::size_t usage = r.out.find("Usage: tolvex_cli [OPTIONS] COMMAND [ARGS...]\n");
  ASSERT_NE(usage, std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Usage", usage + 1), std::string::npos);
}

TEST(CliUsage, PortFailureNamesTheReason) {
  const CliRun r = run_cli("--port /nonexistent/tolvex-port model");
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("cannot open /nonexistent/tolvex-port: "), std::string::npos) << r.err;
  // Local exports need no port.
  const CliRun d = run_cli("--port /nonexistent/tolvex-port delay 1");
  EXPECT_EQ(d.status, 0) << d.err;
}

TEST(CliUsage, OptionsBeforeOrAfterTheCommand) {
  const std::string bad_port = "/nonexistent/tolvex-port";
  struct Case {
    std::string args;
    int status;
    std::string out_start;
    std::string err_part;
  } cases[] = {
      {"-V", 0, "tolvex_cli " TOLVEX_TEST_VERSION, ""},
      {"--version", 0, "tolvex_cli " TOLVEX_TEST_VERSION, ""},
      {"model --port " + bad_port, 3, "", "cannot open " + bad_port},
      {"--port=" + bad_port + " model", 3, "", "cannot open " + bad_port},
      {"card_mov --port " + bad_port + " 1", 3, "", "cannot open"},
      // A negative number is the command's, not an option.
      {"--port " + bad_port + " mi_bal_inc 1 1 -5", 3, "", "cannot open"},
      {"--port " + bad_port + " -- mi_bal_dec 1 1 -0x10", 3, "", "cannot open"},
      {"help card_mov", 0, "card_mov destination:u8\n  move the card to a module [C32]\n  destination: u8, or by name: MS=1", ""},
      {"help cardmov", 2, "", "did you mean 'card_mov'?"},
      {"help aging", 0, "  The bench's aging run", ""},
      {"--port " + bad_port + " card_stk_mov STACKER2 feeder", 3, "", "cannot open"},
      {"--port " + bad_port + " card_stk_mov 1 feed", 2, "", "'feed' is not a number; by name: MS=1"},
      {"model --bogus", 2, "", "--bogus"},
      {"model --baud", 2, "", "--baud"},
      {"modle --port " + bad_port, 2, "", "did you mean 'model'?"},
      {"--sim-fault C11:noack model", 2, "", "--sim"},
      {"--sim --sim-fault C11:sometimes model", 2, "", "--sim-fault C11:sometimes: "},
  };
  for (const Case &c : cases) {
    const CliRun r = run_cli(c.args);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
    EXPECT_EQ(r.out.substr(0, c.out_start.size()), c.out_start) << c.args;
    EXPECT_NE(r.err.find(c.err_part), std::string::npos) << c.args << " -> " << r.err;
  }
}

TEST(CliSim, OptionsAfterTheCommandAndFaultRules) {
  REQUIRE_SIM();
  CliRun r = run_cli("model --sim --view hex");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 31), " COMMAND: Get model\n DATA: [54]") << r.out;
  // A status word from the terminal, then a silent terminal: the report as always, and
  // for the silence the port, the speed and what to check.
  r = run_cli("--sim --sim-fault C33:status=0x2004 --script -", "card_stk_mov 0 1\ncard_eject\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find(" COMMAND: Card eject\n RESULT   : False!\n ERROR : The card is jammed. \n"), std::string::npos)
      << r.out;
  r = run_cli("--sim model --sim-fault C11:noack");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, " COMMAND: Get model\n RESULT   : False!\n ERROR : No ACK Error. \n");
  EXPECT_NE(r.err.find("no answer from /"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(" at 38400 baud: check the cable, the terminal's power"), std::string::npos) << r.err;
}

TEST(CliSim, CardAnswersDecodedAfterTheReport) {
  REQUIRE_SIM();
  const CliRun r = run_cli("--sim --script -", "card_stk_mov 0 ic\nic_reset\nic_exe 000500B0000010\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(" COMMAND: IC Card Reset\n DATA: [3B][66][00][00][54][56][58][53][49][4D] \n"
                       " ANSWER TO RESET:\n   3B 66 00 00 54 56 58 53 49 4D\n   TS 3B direct convention\n"
                       "   Protocol T=0\n   Historical: \"TVXSIM\"\n"),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" DATA: [69][86] \n CARD STATUS: 69 86 command not allowed: no current EF\n"), std::string::npos)
      << r.out;
}

// Standard output read by Python's JSON reader: each line one object, printed back as
// "key=value" lines of the keys asked for (one line of "---" between objects).
std::string json_fields(const std::string &out, const std::string &keys) {
  char path[] = "/tmp/tolvex_cli_json_XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return {};
  close(fd);
  std::ofstream(path) << out;
  const std::string command = "python3 -c 'import json, sys\n"
                              "for line in open(sys.argv[1]):\n"
                              "    o = json.loads(line)\n"
                              "    print(\"---\")\n"
                              "    for k in sys.argv[2].split(\",\"):\n"
                              "        print(k + \"=\" + json.dumps(o.get(k, \"(absent)\")))\n' " +
                              std::string(path) + " " + keys + " 2>&1";
  std::string text;
  FILE *p = popen(command.c_str(), "r");
  if (p == nullptr) return {};
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  pclose(p);
  std::remove(path);
  return text;
}

TEST(CliSim, JsonOneObjectPerCommandAndNothingElse) {
  REQUIRE_SIM();
  const CliRun r = run_cli("--sim --json --keep-going --script -",
                           "card_stk_mov 0 ic\nic_reset\nic_exe 000500B0000010\ndelay 1\ncard_eject\ncard_eject\n");
  EXPECT_EQ(r.status, 1);
  const std::string object = "command,code,process_number,result,result_text,status_word,data";
  const std::string decoded = "answer_to_reset=\"(absent)\"\ncard_status=\"(absent)\"\n";
  EXPECT_EQ(json_fields(r.out, object + ",answer_to_reset,card_status,report"),
            "---\ncommand=\"card_stk_mov\"\ncode=\"C31\"\nprocess_number=1\nresult=0\nresult_text=\"\"\n"
            "status_word=\"0x0000\"\ndata=\"\"\n" + decoded +
            "report=\" COMMAND: Card move from stacker\\n RESULT   : Success! \"\n"
            "---\ncommand=\"ic_reset\"\ncode=\"I21\"\nprocess_number=2\nresult=0\nresult_text=\"\"\n"
            "status_word=\"0x0000\"\ndata=\"3B66000054565853494D\"\n"
            "answer_to_reset={\"valid\": true, \"ts\": \"3B\", \"protocols\": [0], \"historical\": \"54565853494D\"}\n"
            "card_status=\"(absent)\"\n"
            "report=\" COMMAND: IC Card Reset\\n DATA: [3B][66][00][00][54][56][58][53][49][4D] \"\n"
            "---\ncommand=\"ic_exe\"\ncode=\"I22\"\nprocess_number=3\nresult=0\nresult_text=\"\"\n"
            "status_word=\"0x0000\"\ndata=\"6986\"\nanswer_to_reset=\"(absent)\"\n"
            "card_status={\"word\": \"6986\", \"text\": \"command not allowed: no current EF\"}\n"
            "report=\" COMMAND: IC Card Direct Control\\n DATA: [69][86] \"\n"
            "---\ncommand=\"delay\"\ncode=\"(absent)\"\nprocess_number=\"(absent)\"\nresult=0\n"
            "result_text=\"(absent)\"\nstatus_word=\"(absent)\"\ndata=\"(absent)\"\n" + decoded +
            "report=\"(absent)\"\n"
            "---\ncommand=\"card_eject\"\ncode=\"C33\"\nprocess_number=4\nresult=0\nresult_text=\"\"\n"
            "status_word=\"0x0000\"\ndata=\"\"\n" + decoded +
            "report=\" COMMAND: Card eject\\n RESULT   : Success! \"\n"
            "---\ncommand=\"card_eject\"\ncode=\"C33\"\nprocess_number=5\nresult=8197\n"
            "result_text=\"No cards.\"\nstatus_word=\"0x2005\"\ndata=\"2005\"\n" + decoded +
            "report=\" COMMAND: Card eject\\n RESULT   : False!\\n ERROR : No cards. \"\n");
  EXPECT_NE(r.err.find("<stdin>:6: card_eject failed"), std::string::npos) << r.err;
  // A library failure has no status word; the aging run is one object.
  const CliRun nak = run_cli("--sim --json --sim-fault C11:nak model");
  EXPECT_EQ(nak.status, 1);
  const CliRun aging = run_cli("--sim --json aging --count 2 --write 1 --read 1 --no-record");
  EXPECT_EQ(aging.status, 0) << aging.err;
  EXPECT_EQ(json_fields(nak.out + aging.out, "result,result_text,status_word,aging,count,done,ended,counted,error_texts"),
            "---\nresult=3\nresult_text=\"NAK Error.\"\nstatus_word=null\naging=\"(absent)\"\ncount=\"(absent)\"\n"
            "done=\"(absent)\"\nended=\"(absent)\"\ncounted=\"(absent)\"\nerror_texts=\"(absent)\"\n"
            "---\nresult=\"(absent)\"\nresult_text=\"(absent)\"\nstatus_word=\"(absent)\"\n"
            "aging=true\ncount=2\ndone=2\nended=\"all cycles done\"\ncounted=[0, 0, 0, 0, 0]\n"
            "error_texts=[\"Track1: 0 , 0%\", \"Track2: 0 , 0%\", \"Track3: 0 , 0%\", \"IC: 0 , 0%\", \"RF: 0 , 0%\"]\n");
}

TEST(CliSim, ExpectationsDecideAndJunitIsReadBack) {
  REQUIRE_SIM();
  char dir_template[] = "/tmp/tolvex_cli_junit_XXXXXX";
  const char *dir = mkdtemp(dir_template);
  ASSERT_NE(dir, nullptr);
  const std::string script = std::string(dir) + "/commission.tvx";
  const std::string junit = std::string(dir) + "/report.xml";
  std::ofstream(script) << "# == Identify\nmodel\nexpect data-prefix 544f4c564558\nchk_stacker\nexpect ok\n"
                           "# == Issue & eject <card>\ncard_stk_mov stacker1 ms\nexpect ok\ncard_eject\ncard_eject\n"
                           "expect 0x2005\n# == Deliberate miss\nmodel\nexpect data 00\n# == After the miss\nmodel\n";
  // A refusal that was expected passes; a missed expectation prints both sides, fails the
  // run and, without --keep-going, stops it.
  CliRun r = run_cli("--sim --script " + script + " --junit " + junit);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, script + ":14: model: expected data 00, got 0 (ok), data 544F4C5645582D53494D205456582D31303000\n");
  EXPECT_NE(r.out.find(" COMMAND: Card eject\n RESULT   : False!\n ERROR : No cards. \n COMMAND: Get model\n"),
            std::string::npos) << r.out;
  // Read back by a JUnit reader written elsewhere.
  const std::string reader =
      "/usr/bin/python3 -c 'import sys\nfrom junitparser import JUnitXml\n"
      "for suite in JUnitXml.fromfile(sys.argv[1]):\n"
      "    print(suite.tests, suite.failures, suite.skipped)\n"
      "    for case in suite:\n"
      "        print(case.name, \"|\", \"skipped\" if case.is_skipped else \"passed\" if case.is_passed else "
      "[x.message for x in case.result])\n' " + junit + " 2>&1";
  std::string text;
  if (FILE *p = popen(reader.c_str(), "r")) {
    char buf[1024];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    pclose(p);
  }
  if (text.find("No module named") != std::string::npos) {
    std::filesystem::remove_all(dir);
    GTEST_SKIP() << "python3-junitparser is not installed (scripts/bootstrap test)";
  }
  EXPECT_EQ(text,
            "4 1 1\nIdentify | passed\nIssue & eject <card> | passed\n"
            "Deliberate miss | ['line 14: expected data 00, got 0 (ok), data 544F4C5645582D53494D205456582D31303000']\n"
            "After the miss | skipped\n");
  // Without sections, one case per command; --keep-going runs them all.
  std::ofstream(script) << "model\nexpect 0x2005\ncard_eject\nexpect 0x2005\n";
  r = run_cli("--sim --keep-going --script " + script + " --junit " + junit);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(":2: model: expected 0x2005 (No cards.), got 0 (ok), data 544F"), std::string::npos) << r.err;
  const std::string xml = read_file(junit);
  EXPECT_NE(xml.find("tests=\"2\" failures=\"1\" errors=\"0\" skipped=\"0\""), std::string::npos) << xml;
  EXPECT_NE(xml.find("<testcase classname=\"" + script + "\" name=\"3: card_eject\" time=\""), std::string::npos) << xml;
  std::filesystem::remove_all(dir);
}

TEST(CliSim, StatusReportsInBothViews) {
  REQUIRE_SIM();
  CliRun r = run_cli("--sim model");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, " COMMAND: Get model\n RESULT: TOLVEX-SIM TVX-100 \n");
  EXPECT_EQ(r.err, "");

  r = run_cli("--sim --view hex fw_version");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, " COMMAND: Get Firmware version\n DATA: " + bracketed(std::string("TVX-FW 1.07.2") + '\0') + " \n");

  r = run_cli("--sim chk_stacker");
  EXPECT_EQ(r.out, " COMMAND: Get Stacker\n RESULT: Stacker #1- Good,   Stacker #2- Good    \n");

  r = run_cli("--sim get_err");
  EXPECT_EQ(r.out, " COMMAND: Get Error List\n RESULT   : No Error! \n");
}

TEST(CliSim, TerminalErrorBecomesItsMessage) {
  REQUIRE_SIM();
  const CliRun r = run_cli("--sim card_eject");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, " COMMAND: Card eject\n RESULT   : False!\n ERROR : No cards. \n");
}

TEST(CliSim, ScriptRunsStepsAndSwitchesView) {
  REQUIRE_SIM();
  const std::string script =
      "# issue a card, write and read track 1\n"
      "card_stk_mov 0 1\n"
      "card_position\n"
      "ms_wt 0 1 " + std::string("48454C4C4F") + "\n"
      "view hex\n"
      "card_position\n"
      "view string\n"
      "exe C16\n";
  const CliRun r = run_cli("--sim --script -", script);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            " COMMAND: Card move from stacker\n RESULT   : Success! \n"
            " COMMAND: Get Card Position\n RESULT: The Card is located at  SENSOR 2, \n"
            " COMMAND: Magnetic Card Write\n RESULT   : Success! \n"
            " COMMAND: Get Card Position\n DATA: [02] \n"
            " COMMAND: Get Card Position\n RESULT: The Card is located at  SENSOR 2, \n");
}

TEST(CliSim, ScriptStopsAtFirstFailureUnlessKeepGoing) {
  REQUIRE_SIM();
  const std::string script = "card_eject\nmodel\n";
  CliRun r = run_cli("--sim --script -", script);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, " COMMAND: Card eject\n RESULT   : False!\n ERROR : No cards. \n");
  EXPECT_NE(r.err.find("<stdin>:1: card_eject failed"), std::string::npos) << r.err;

  r = run_cli("--sim --keep-going --script -", script);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, " COMMAND: Card eject\n RESULT   : False!\n ERROR : No cards. \n"
                   " COMMAND: Get model\n RESULT: TOLVEX-SIM TVX-100 \n");
}

TEST(CliSim, DemoScriptRunsGreen) {
  REQUIRE_SIM();
  const CliRun r = run_cli("--sim --script " + std::string(TOLVEX_SOURCE_DIR) + "/scripts/demo.tvx");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find(" COMMAND: Get model\n RESULT: TOLVEX-SIM TVX-100 \n"), std::string::npos);
  EXPECT_NE(r.out.find(" COMMAND: Card eject\n RESULT   : Success! \n"), std::string::npos);
  // The commissioning script of the CLI page passes as it stands.
  const CliRun c = run_cli("--sim --script " + std::string(TOLVEX_SOURCE_DIR) + "/scripts/commission.tvx");
  EXPECT_EQ(c.status, 0) << c.out << c.err;
  EXPECT_EQ(c.err, "");
}

TEST(CliAging, RunsOnTheSimulatedTerminal) {
  REQUIRE_SIM();
  char dir_template[] = "/tmp/tolvex_cli_aging_XXXXXX";
  const char *dir = mkdtemp(dir_template);
  ASSERT_NE(dir, nullptr);
  const std::string records = std::string(dir) + "/records";
  const CliRun r = run_cli("--sim aging --kind ms --count 2 --write 1 --read 1 --record " + records);
  EXPECT_EQ(r.status, 0) << r.err;
  // The record's place is named; it holds a row per cycle.
  const std::string prefix = "tolvex_cli: aging record: " + records + "/aging-";
  ASSERT_EQ(r.err.substr(0, prefix.size()), prefix) << r.err;
  const std::string csv = read_file(r.err.substr(26, r.err.size() - 27));
  EXPECT_NE(csv.find(",2,MS,C31:0 M33:0 M31:0 C33:0,ejected,\n"), std::string::npos) << csv;
  std::filesystem::remove_all(dir);
  // Remain at each cycle start and at the end; the reports in between; the error texts last.
  const std::string cycle = " COMMAND: Card move from stacker\n RESULT   : Success! \n"
                            " COMMAND: Magnetic Card Write\n RESULT   : Success! \n";
  EXPECT_EQ(r.out.find("Remain: 2\n" + cycle), 0u) << r.out;
  EXPECT_NE(r.out.find(" COMMAND: Card eject\n RESULT   : Success! \nRemain: 1\n" + cycle), std::string::npos);
  // Then the summary, as the record keeps it.
  const std::string end = " COMMAND: Card eject\n RESULT   : Success! \nRemain: 0\n"
                          "Track1: 0 , 0%\nTrack2: 0 , 0%\nTrack3: 0 , 0%\nIC: 0 , 0%\nRF: 0 , 0%\nAging run\n";
  const std::size_t at = r.out.find(end);
  ASSERT_NE(at, std::string::npos) << r.out;
  const std::string summary = r.out.substr(at + end.size() - 10);
  EXPECT_NE(summary.find("\nCycles: 2 of 2\nTrack 1: 0 counted, 0%, 0 other\n"), std::string::npos) << summary;
  EXPECT_NE(summary.find("\nCaptured: 0 (counted error 0, bad value block 0, All Read split error 0)\n"),
            std::string::npos) << summary;
  const std::string ended = "\nEnded: all cycles done\n";
  EXPECT_EQ(summary.substr(summary.size() - ended.size()), ended) << summary;
}

TEST(CliAging, ExitStatuses) {
  REQUIRE_SIM();
  struct Case {
    std::string args;
    int status;
    std::string out_start;
    std::string err_part;
  } cases[] = {
      {"--count 0", 0, "Remain: 0\nTrack1: \nTrack2: \nTrack3: \nIC: \nRF: \n", ""},
      {"--kind ic --count 2 --ic-text ''", 1, "Remain: 2\n", "Input The Data"},
      {"--kind rf --count 1 --no-eject", 1, "Remain: 1\n COMMAND: Write RF card data in Block Range\n RESULT   : False!\n ERROR : No cards. \nRemain: 1\n", ""},
      {"--count -3", 2, "", "--count"},
      {"--count 1 --kind nfc", 2, "", "--kind"},
      {"--count 1 --write 4", 2, "", "--write"},
      {"--kind ms", 2, "", "--count"},
      {"--count 1 --ic-text " + std::string(251, 'A'), 2, "", "--ic-text is longer than 250 bytes"},
      {"--count 1 --record here --no-record", 2, "", "--record excludes --no-record"},
  };
  char dir_template[] = "/tmp/tolvex_cli_aging_XXXXXX";
  const char *dir = mkdtemp(dir_template);
  ASSERT_NE(dir, nullptr);
  for (const Case &c : cases) {
    const CliRun r = run_cli("--sim aging " + c.args, "", dir);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
    EXPECT_EQ(r.out.substr(0, c.out_start.size()), c.out_start) << c.args << "\n" << r.out;
    EXPECT_NE(r.err.find(c.err_part), std::string::npos) << c.args << "\n" << r.err;
  }
  // Without --record the record goes to aging-records/ in the current folder; --no-record
  // writes none.
  const std::string records = std::string(dir) + "/aging-records";
  const auto files = [&records] {
    std::error_code ec;
    return std::distance(std::filesystem::directory_iterator(records, ec), std::filesystem::directory_iterator());
  };
  const auto before = files();
  EXPECT_GE(before, 4);  // the two runs that got as far as a cycle start, a CSV and a summary each
  const CliRun quiet = run_cli("--sim aging --count 1 --no-record", "", dir);
  EXPECT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(files(), before);
  std::filesystem::remove_all(dir);
}

// Starts tolvex_cli with `args` and reads its output; `on_output` is called with all of
// the output so far after each read and may signal the process. Returns the exit status
// (128 + the signal when a signal ended it) and the output.
CliRun spawn_cli(const std::vector<std::string> &args, const std::function<void(pid_t, const std::string &)> &on_output) {
  CliRun r;
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return r;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
  std::vector<std::string> words = {TOLVEX_CLI_PATH};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &a : words) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, TOLVEX_CLI_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  if (spawned != 0) {
    close(pipe_fds[0]);
    return r;
  }
  char buf[512];
  ssize_t n;
  while ((n = read(pipe_fds[0], buf, sizeof buf)) > 0) {
    r.out.append(buf, static_cast<std::size_t>(n));
    on_output(pid, r.out);
  }
  close(pipe_fds[0]);
  int raw = 0;
  if (waitpid(pid, &raw, 0) != pid) return r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
  return r;
}

// The data rows of a record's CSV file.
std::vector<std::string> csv_rows(const std::string &folder) {
  std::vector<std::string> rows;
  for (const auto &entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() != ".csv") continue;
    std::istringstream text(read_file(entry.path().string()));
    std::string line;
    std::getline(text, line);
    while (std::getline(text, line)) rows.push_back(line);
  }
  return rows;
}

TEST(CliAging, InterruptKillAndHangUpStopAfterTheCycle) {
  REQUIRE_SIM();
  // Ctrl-C, a kill and a closed session during the run end it after the cycle it is in,
  // the card ejected and the summary written.
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    char dir_template[] = "/tmp/tolvex_cli_aging_XXXXXX";
    const char *dir = mkdtemp(dir_template);
    ASSERT_NE(dir, nullptr);
    bool signalled = false;
    const CliRun r = spawn_cli({"--sim", "aging", "--count", "1000", "--record", dir}, [&](pid_t pid, const std::string &out) {
      if (!signalled && out.find(" COMMAND: Card eject\n") != std::string::npos) {
        kill(pid, sig);
        signalled = true;
      }
    });
    EXPECT_EQ(r.status, 1) << r.out;
    const std::string &out = r.out;
    // The run ended after a whole cycle, its card ejected, long before the count.
    const std::string end = " COMMAND: Card eject\n RESULT   : Success! \nRemain: ";
    const std::size_t at = out.rfind(end);
    ASSERT_NE(at, std::string::npos) << out;
    const int remain = std::atoi(out.c_str() + at + end.size());
    EXPECT_GT(remain, 900) << out;
    EXPECT_NE(out.find("Remain: " + std::to_string(remain + 1) + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\nTrack1: \n", at), std::string::npos) << out;
    EXPECT_NE(out.find("\nCycles: " + std::to_string(1000 - remain) + " of 1000\n", at), std::string::npos) << out;
    EXPECT_NE(out.find("\nEnded: stopped\n", at), std::string::npos) << out;
    // The record holds every cycle, the last one's card ejected, and its summary.
    const std::vector<std::string> rows = csv_rows(dir);
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(1000 - remain));
    EXPECT_NE(rows.back().find(" C33:0,ejected,"), std::string::npos) << rows.back();
    bool summary = false;
    for (const auto &entry : std::filesystem::directory_iterator(dir)) {
      summary = summary || read_file(entry.path().string()).find("Ended: stopped\n") != std::string::npos;
    }
    EXPECT_TRUE(summary);
    std::filesystem::remove_all(dir);
  }
}

TEST(CliAging, RecordIsCompleteUpToTheLastCycleAfterKill9) {
  REQUIRE_SIM();
  char dir_template[] = "/tmp/tolvex_cli_aging_XXXXXX";
  const char *dir = mkdtemp(dir_template);
  ASSERT_NE(dir, nullptr);
  bool killed = false;
  const CliRun r = spawn_cli({"--sim", "aging", "--count", "100000", "--pause", "0", "--record", dir},
                             [&](pid_t pid, const std::string &out) {
                               if (!killed && out.find("Remain: 99950\n") != std::string::npos) {
                                 kill(pid, SIGKILL);
                                 killed = true;
                               }
                             });
  EXPECT_EQ(r.status, 128 + SIGKILL);
  // Whole rows only, numbered 1, 2, 3, ... without a gap.
  const std::vector<std::string> rows = csv_rows(dir);
  ASSERT_GE(rows.size(), 50u);
  for (std::size_t k = 0; k < rows.size(); ++k) {
    EXPECT_NE(rows[k].find("," + std::to_string(k + 1) + ",MS,C31:0 C33:0,ejected,"), std::string::npos) << rows[k];
  }
  std::filesystem::remove_all(dir);
}

// tolvex_cli with its standard input and output on `in_fd` / `out_fd` (pipes or a
// pseudo-terminal), standard error to /dev/null.
pid_t start_cli(const std::vector<std::string> &args, int in_fd, int out_fd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in_fd, 0);
  posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> words = {TOLVEX_CLI_PATH};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &a : words) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, TOLVEX_CLI_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return spawned == 0 ? pid : -1;
}

// Reads from `fd` into `seen` until it holds `text` after `from`, or 10 s pass.
bool read_until(int fd, std::string &seen, const std::string &text, std::size_t from = 0) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (seen.find(text, from) == std::string::npos) {
    if (std::chrono::steady_clock::now() > until) return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buf[512];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    seen.append(buf, static_cast<std::size_t>(n));
  }
  return true;
}

TEST(CliSim, ScriptFromAPipeRunsEachLineAsItArrives) {
  REQUIRE_SIM();
  int in[2], out[2];
  ASSERT_EQ(pipe(in), 0);
  ASSERT_EQ(pipe(out), 0);
  const pid_t pid = start_cli({"--sim", "--script", "-"}, in[0], out[1]);
  close(in[0]);
  close(out[1]);
  ASSERT_GT(pid, 0);
  // Each report comes while the input is still open; the card drawn by the first line
  // is there for the second.
  std::string seen;
  ASSERT_EQ(write(in[1], "card_stk_mov 0 ms\n", 18), 18);
  EXPECT_TRUE(read_until(out[0], seen, " COMMAND: Card move from stacker\n RESULT   : Success! \n")) << seen;
  ASSERT_EQ(write(in[1], "card_position\n", 14), 14);
  EXPECT_TRUE(read_until(out[0], seen, " COMMAND: Get Card Position\n RESULT: The Card is located at  SENSOR 2, \n")) << seen;
  // A bad line ends the run there, with status 2.
  ASSERT_EQ(write(in[1], "card_mov 999\nmodel\n", 20), 20);
  close(in[1]);
  int raw = 0;
  ASSERT_EQ(waitpid(pid, &raw, 0), pid);
  close(out[0]);
  EXPECT_EQ(WEXITSTATUS(raw), 2);
}

TEST(CliSim, SessionOnATerminalKeepsThePortAndTheCard) {
  REQUIRE_SIM();
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  const pid_t pid = start_cli({"--sim"}, slave, slave);
  close(slave);
  ASSERT_GT(pid, 0);
  const auto type = [master](const std::string &line) {
    return write(master, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  };
  // Each line's report comes before the next line is typed; the card drawn by one line
  // is there for the next; help answers at once.
  std::string seen;
  EXPECT_TRUE(read_until(master, seen, "tolvex> ")) << seen;
  EXPECT_TRUE(type("card_stk_mov 0 ms\n"));
  EXPECT_TRUE(read_until(master, seen, " COMMAND: Card move from stacker\r\n RESULT   : Success! \r\n")) << seen;
  std::size_t at = seen.size();
  EXPECT_TRUE(type("help card_mov\n"));
  EXPECT_TRUE(read_until(master, seen, "destination: u8, or by name: MS=1", at)) << seen;
  at = seen.size();
  EXPECT_TRUE(type("card_position\n"));
  EXPECT_TRUE(read_until(master, seen, " RESULT: The Card is located at  SENSOR 2, \r\n", at)) << seen;
  at = seen.size();
  EXPECT_TRUE(type("card_eject\nexpect ok\nquit\n"));
  int raw = 0;
  EXPECT_TRUE(read_until(master, seen, " COMMAND: Card eject\r\n RESULT   : Success! \r\n", at)) << seen;
  ASSERT_EQ(waitpid(pid, &raw, 0), pid);
  close(master);
  EXPECT_EQ(WEXITSTATUS(raw), 0);
}

TEST(CliSim, QuietAndVerbose) {
  REQUIRE_SIM();
  const std::string script = "model\ncard_eject\nchk_stacker\n";
  CliRun r = run_cli("--sim -q --keep-going --script -", script);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, " COMMAND: Card eject\n RESULT   : False!\n ERROR : No cards. \n");
  r = run_cli("--sim model -v");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, " COMMAND: Get model\n RESULT: TOLVEX-SIM TVX-100 \n");
  EXPECT_EQ(r.err.rfind("TX 01 00 00 03 02 43 31 31 03 41\nRX 06\nTX 05\nRX 01 00 00 19 02 43 31 31 00 00 00 54", 0), 0u)
      << r.err;
  EXPECT_EQ(run_cli("--sim -q -v model").status, 2);
  // Quiet aging: no "Remain:" lines and no reports of good commands, the summary as always.
  r = run_cli("--sim -q aging --count 2 --no-record");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Track1: \nTrack2: \nTrack3: \nIC: \nRF: \nAging run\n", 0), 0u) << r.out;
}

TEST(CliAging, OneProgressLineOnATerminal) {
  REQUIRE_SIM();
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  const pid_t pid = start_cli({"--sim", "aging", "--count", "3", "--pause", "50", "--no-record"}, slave, slave);
  close(slave);
  ASSERT_GT(pid, 0);
  std::string seen;
  EXPECT_TRUE(read_until(master, seen, "Ended: all cycles done\r\n")) << seen;
  int raw = 0;
  ASSERT_EQ(waitpid(pid, &raw, 0), pid);
  close(master);
  EXPECT_EQ(WEXITSTATUS(raw), 0);
  EXPECT_EQ(seen.rfind("\rcycle 1 of 3, 0 errors\x1b[K\rcycle 2 of 3, 0 errors, ", 0), 0u) << seen;
  EXPECT_NE(seen.find("s left\x1b[K\rcycle 3 of 3, 0 errors, "), std::string::npos) << seen;
  EXPECT_EQ(seen.find("COMMAND"), std::string::npos) << seen;
  EXPECT_EQ(seen.find("Remain"), std::string::npos) << seen;
  EXPECT_NE(seen.find("left\x1b[K\r\nTrack1: \r\n"), std::string::npos) << seen;
}

TEST(CliUsage, BashCompletionOffersCommandsOptionsAndNames) {
  const std::string bin = std::filesystem::path(TOLVEX_CLI_PATH).parent_path().string();
  const struct {
    std::string words;  // the line so far; the last word is the one completed
    std::string offered;
  } cases[] = {
      {"card_e", "card_eject card_eject_ag"},
      {"card_stk_mov ''", "Stacker1 Stacker2 Stacker3 Stacker4 Auto"},
      {"card_stk_mov s", "Stacker1 Stacker2 Stacker3 Stacker4"},
      {"--sim card_stk_mov 1 f", "Feeder"},
      {"--port COM2 ms_rd ''", "all Track1 Track2 Track3"},
      {"mi_rd_blk ''", ""},
      {"--baud 3", "38400"},
      {"--ver", "--verbose --version"},
      {"help card_m", "card_mov"},
  };
  for (const auto &c : cases) {
    const std::string command = "PATH=" + bin + ":$PATH bash -c 'source " + std::string(TOLVEX_CLI_COMPLETION) +
                                "; COMP_WORDS=(tolvex_cli \"$@\"); COMP_CWORD=$#; _tolvex_cli; echo \"${COMPREPLY[*]}\"' x " +
                                c.words;
    std::string out;
    if (FILE *p = popen(command.c_str(), "r")) {
      char buf[1024];
      std::size_t n;
      while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
      pclose(p);
    }
    EXPECT_EQ(out, c.offered + "\n") << c.words;
  }
}

#ifdef TOLVEX_SIM_PROGRAM
TEST(CliAging, HeldCardIsSaidOnceAndTheRunGoesOn) {
  // The simulator program with nobody at its exit until SIGUSR1.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  std::vector<std::string> args = {TOLVEX_SIM_PROGRAM, "--instant", "--exit-take", "-1"};
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t sim = 0;
  ASSERT_EQ(posix_spawn(&sim, TOLVEX_SIM_PROGRAM, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  std::string path;
  char c = 0;
  while (read(fds[0], &c, 1) == 1 && c != '\n') path += c;
  ASSERT_FALSE(path.empty());

  char dir_template[] = "/tmp/tolvex_cli_aging_XXXXXX";
  const char *dir = mkdtemp(dir_template);
  ASSERT_NE(dir, nullptr);
  bool taken = false;
  const CliRun r = spawn_cli({"--port", path, "--baud", "38400", "aging", "--count", "2", "--pause", "0", "--record", dir},
                             [&](pid_t, const std::string &out) {
                               if (!taken && out.find("card at the exit since ") != std::string::npos) {
                                 kill(sim, SIGUSR1);
                                 taken = true;
                               }
                             });
  kill(sim, SIGTERM);
  waitpid(sim, nullptr, 0);
  close(fds[0]);
  EXPECT_EQ(r.status, 0) << r.out;
  const auto count = [&r](const std::string &text) {
    std::size_t n = 0;
    for (std::size_t at = r.out.find(text); at != std::string::npos; at = r.out.find(text, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("card at the exit since "), 1u) << r.out;
  EXPECT_EQ(count("card at the exit taken after "), 1u) << r.out;
  // The first draw, the first refused one and the one that ends the hold.
  EXPECT_EQ(count(" COMMAND: Card move from stacker\n"), 3u) << r.out;
  const std::vector<std::string> rows = csv_rows(dir);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_NE(rows[1].find(",2,MS,C31:0x2006*"), std::string::npos) << rows[1];
  EXPECT_NE(rows[1].find("s C31:0 C33:0,ejected,"), std::string::npos) << rows[1];
  std::filesystem::remove_all(dir);
}
#endif

}  // namespace
