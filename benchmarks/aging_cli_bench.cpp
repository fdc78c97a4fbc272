// "tolvex_cli aging" over a long run: the command's own code in this process against the
// instantly answering simulated terminal, pause 0, its record written into a scratch
// folder and its output read line by line. Prints the calling thread's own time per
// cycle over the first and the last 1000 cycles and the resident memory after each
// stretch. Usage: [cycles], default 100000.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include <unistd.h>

#include "aging_command.hpp"
#include "run_figures.hpp"

namespace {

// Drops the output but tells the sampler the cycles done at each "Remain: R" line.
class RemainWatch final : public std::streambuf {
 public:
  RemainWatch(tolvex::benchmarks::RunSampler &sampler, long long cycles) : sampler_(sampler), cycles_(cycles) {}

 protected:
  int_type overflow(int_type c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    if (ch == '\n') {
      if (line_.rfind("Remain: ", 0) == 0) sampler_.done(cycles_ - std::atoll(line_.c_str() + 8));
      line_.clear();
    } else if (line_.size() < 64) {
      line_ += ch;
    }
    return c;
  }

 private:
  tolvex::benchmarks::RunSampler &sampler_;
  long long cycles_;
  std::string line_;
};

}  // namespace

int main(int argc, char **argv) {
  const int cycles = tolvex::benchmarks::cycles_argument(argc, argv, 100000);
  if (cycles == 0) return 2;
  const auto sim = tolvex::benchmarks::stocked_simulator(cycles);
  if (!sim) return 1;
  char folder_template[] = "/tmp/bench_aging_cli_XXXXXX";
  const char *folder = mkdtemp(folder_template);
  if (folder == nullptr) return 1;

  tolvex::benchmarks::RunSampler sampler(cycles, 1000);
  RemainWatch watch(sampler, cycles);
  std::ostream out(&watch);
  std::ostringstream err;
  tolvex::cli::SessionOptions session;
  session.port = sim->path();
  session.baud = 38400;
  const std::vector<std::string> words = {"--count", std::to_string(cycles), "--write", "1", "--read", "1",
                                          "--pause", "0", "--record", folder};
  const int status = tolvex::cli::run_aging(session, words, out, err);
  const bool met = sampler.print("bench_aging_cli: tolvex_cli aging, MS cycles (C31 M33 M31 C33)");
  std::filesystem::remove_all(folder);
  if (status != tolvex::cli::kExitOk) {
    std::fprintf(stderr, "the run did not complete cleanly (exit %d)\n%s", status, err.str().c_str());
    return 1;
  }
  return met ? 0 : 1;
}
