// The export surface of the built library: its dynamic symbol table, SONAME and the
// Windows .def file against the export table and the fixed ordinals integrators bind by.
#include <gtest/gtest.h>
#include <tolvex/tolvex.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#ifndef TOLVEX_LIBRARY_FILE
#define TOLVEX_LIBRARY_FILE ""
#endif
#ifndef TOLVEX_EXPORT_TABLE_FILE
#define TOLVEX_EXPORT_TABLE_FILE ""
#endif
#ifndef TOLVEX_DEF_FILE
#define TOLVEX_DEF_FILE ""
#endif

namespace {

// Every table row must name a function the public header declares (else this fails to compile).
[[maybe_unused]] void every_row_is_declared() {
#define TOLVEX_EXPORT(ordinal, name, args, code, purpose) static_cast<void>(&name);
#define TOLVEX_EXTRA(name, purpose) static_cast<void>(&name);
#include "../src/export_table.inc"
#undef TOLVEX_EXPORT
#undef TOLVEX_EXTRA
}

// The ordinals the bench binds by; they never change.
const std::map<int, std::string> kOrdinals = {
    {1, "EnablePort"},
    {2, "DisablePort"},
    {3, "exe_cmd"},
    {4, "chk_res"},
    {5, "exe_stop"},
    {6, "call_src_ver"},
    {7, "model"},
    {8, "fw_version"},
    {9, "chk_stacker"},
    {10, "card_position"},
    {11, "set_rtc"},
    {12, "capture_time"},
    {13, "rty_cnt"},
    {14, "buzz"},
    {15, "baudrate"},
    {16, "card_stk_mov"},
    {17, "card_mov"},
    {18, "card_eject"},
    {19, "card_eject_ag"},
    {20, "card_drop"},
    {21, "card_capture"},
    {22, "ms_rd"},
    {23, "ms_wt"},
    {24, "ms_all_wt"},
    {25, "ms_clean"},
    {26, "ic_reset"},
    {27, "ic_exe"},
    {28, "sam_reset"},
    {29, "sam_exe"},
    {30, "sam_deact"},
    {31, "ic_pts"},
    {32, "tm_rst"},
    {33, "mi_det"},
    {34, "mi_det_no_sens"},
    {35, "mi_rd_blk"},
    {36, "mi_wt_blk"},
    {37, "mi_rd_blk_no_sens"},
    {38, "mi_wt_blk_no_sens"},
    {39, "mi_rd_sct"},
    {40, "mi_wt_sct"},
    {41, "mi_cng_tm_key"},
    {42, "mi_cng_all_tm_key"},
    {43, "mi_cng_card_key"},
    {44, "mi_sel_key"},
    {45, "mi_cng_tm_key_of_set"},
    {46, "mi_cng_all_tm_key_of_set"},
    {47, "mi_bal_inc"},
    {48, "mi_bal_dec"},
    {49, "mi_bal_inc_no_sens"},
    {50, "mi_bal_dec_no_sens"},
    {51, "mi_ultra_rd"},
    {52, "mi_ultra_wt"},
    {53, "mi_ultra_rd_uid"},
    {54, "get_stat"},
    {55, "get_stat_in_port"},
    {56, "get_err"},
    {57, "ejt_mode"},
    {58, "wait_mode"},
    {59, "stk_priority_mode"},
    {60, "card_coll"},
    {61, "buzz_manual"},
    {62, "mi_cng_tm_key_start"},
    {63, "mi_cng_tm_key_trans"},
    {64, "mi_cng_tm_key_finish"},
    {65, "comu_test"},
    {66, "delay"},
    {67, "sl2_det"},
    {68, "sl2_rd_blk"},
    {69, "sl2_wt_blk"},
    {70, "sl2_rd_all"},
    {71, "sl2_wt_all"},
    {72, "card_hold"},
};

std::string read_text(const std::string &path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string run_command(const std::string &cmd) {
  std::string out;
  FILE *p = popen(cmd.c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

struct Table {
  std::map<int, std::string> ordinals;
  std::set<std::string> extras;
};

Table parse_table(const std::string &text) {
  Table t;
  std::istringstream in(text);
  std::string line;
  const std::regex exported(R"(^TOLVEX_EXPORT\(\s*(\d+)\s*,\s*([A-Za-z_0-9]+)\s*,)");
  const std::regex extra(R"(^TOLVEX_EXTRA\(\s*([A-Za-z_0-9]+)\s*,)");
  std::smatch m;
  while (std::getline(in, line)) {
    if (std::regex_search(line, m, exported)) {
      const int ord = std::stoi(m[1]);
      EXPECT_TRUE(t.ordinals.emplace(ord, m[2]).second) << "ordinal " << ord << " listed twice";
    } else if (std::regex_search(line, m, extra)) {
      t.extras.insert(m[1]);
    }
  }
  return t;
}

class ExportSurface : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_STRNE(TOLVEX_LIBRARY_FILE, "");
    ASSERT_STRNE(TOLVEX_EXPORT_TABLE_FILE, "");
    table_ = parse_table(read_text(TOLVEX_EXPORT_TABLE_FILE));
  }
  Table table_;
};

TEST_F(ExportSurface, TableHoldsTheFixedOrdinalsAndTheAdditions) {
  EXPECT_EQ(table_.ordinals, kOrdinals);
  EXPECT_EQ(table_.extras,
            (std::set<std::string>{"tolvex_set_message_handler", "tolvex_set_completion_handler", "tolvex_port_error",
                                   "tolvex_resolve_port", "tolvex_set_trace_handler", "tolvex_result_text"}));
}

TEST_F(ExportSurface, LibraryExportsExactlyTheTable) {
  const std::string listing =
      run_command(std::string("nm -D --defined-only --format=posix '") + TOLVEX_LIBRARY_FILE + "' 2>&1");
  std::set<std::string> exported;
  std::set<std::string> version_nodes;
  std::istringstream in(listing);
  std::string name, type;
  std::string rest;
  while (in >> name >> type) {
    std::getline(in, rest);
    const auto at = name.find('@');
    if (at != std::string::npos) name.resize(at);
    if (type == "A") {
      version_nodes.insert(name);  // the version node of the version script
    } else {
      exported.insert(name);
    }
  }
  std::set<std::string> expected(table_.extras);
  for (const auto &[ord, name_of] : table_.ordinals) expected.insert(name_of);
  ASSERT_EQ(expected.size(), kOrdinals.size() + table_.extras.size());
  EXPECT_EQ(exported, expected) << listing;
  EXPECT_EQ(version_nodes, std::set<std::string>{"TOLVEX_1"}) << listing;
}

TEST_F(ExportSurface, LibraryCarriesItsSoname) {
  const std::string dyn = run_command(std::string("objdump -p '") + TOLVEX_LIBRARY_FILE + "' 2>&1");
  EXPECT_TRUE(std::regex_search(dyn, std::regex(R"(SONAME\s+libtolvex\.so\.1\n)"))) << dyn;
}

TEST_F(ExportSurface, DefFileListsEveryOrdinal) {
  ASSERT_STRNE(TOLVEX_DEF_FILE, "");
  const std::string def = read_text(TOLVEX_DEF_FILE);
  std::istringstream in(def);
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line, "LIBRARY tolvex");
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line, "EXPORTS");
  std::map<int, std::string> ordinals;
  std::set<std::string> unnumbered;
  const std::regex numbered(R"(^\s+([A-Za-z_0-9]+)\s+@(\d+)\s*$)");
  const std::regex bare(R"(^\s+([A-Za-z_0-9]+)\s*$)");
  std::smatch m;
  while (std::getline(in, line)) {
    if (std::regex_match(line, m, numbered)) {
      EXPECT_TRUE(ordinals.emplace(std::stoi(m[2]), m[1]).second) << line;
    } else if (std::regex_match(line, m, bare)) {
      unnumbered.insert(m[1]);
    } else {
      ADD_FAILURE() << "unexpected line in the .def file: " << line;
    }
  }
  EXPECT_EQ(ordinals, kOrdinals);
  EXPECT_EQ(unnumbered, table_.extras);
}

}  // namespace
