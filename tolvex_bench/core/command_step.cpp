#include "command_step.hpp"

#include <algorithm>

namespace tolvex::bench {

CommandStep::CommandStep(StepHost &host)
    : host_(host), collect_([](std::uint8_t *data, int *length, std::uint8_t *prc, int *result) {
        return chk_res(data, length, prc, result);
      }) {}

StepResult CommandStep::run(std::string_view code, const Starter &start, std::wstring_view failure_text) {
  char code_before[3];
  std::copy_n(state_.code, 3, code_before);
  const std::uint8_t prc_before = state_.gb_prc_no;
  std::fill_n(state_.code, 3, '\0');
  std::copy_n(code.begin(), std::min<std::size_t>(code.size(), 3), state_.code);
  state_.gb_prc_no = static_cast<std::uint8_t>(start());
  if (state_.gb_prc_no == 0) {
    // Refused while another command is being waited for (a handler run inside that
    // wait): the command in flight keeps its code and process number, so its own
    // report stays right.
    if (depth_ > 0) {
      std::copy_n(code_before, 3, state_.code);
      state_.gb_prc_no = prc_before;
    }
    if (!failure_text.empty()) host_.message(failure_text);
    return StepResult::NotStarted;
  }
  return wait_and_report();
}

bool CommandStep::collect() {
  int length = 0;
  int result = 0;
  std::uint8_t prc = 0;
  if (collect_(state_.response.data(), &length, &prc, &result) == 0) return false;
  state_.length = static_cast<std::uint32_t>(std::clamp(length, 0, static_cast<int>(state_.response.size())));
  state_.response_prc_no = prc;
  state_.result = result;
  return true;
}

StepResult CommandStep::wait_and_report() {
  view_mode_ = host_.view_mode();
  state_.response.fill(0);

  ++depth_;
  const bool collected = collect() || host_.wait([this] { return collect(); });
  --depth_;
  if (!collected) {
    state_.length = 0;
    state_.response_prc_no = 0;
    state_.result = TOLVEX_STOPPED;
    return StepResult::NoOutcome;
  }

  // A negative answer carries the terminal's own error code, high byte first.
  if (state_.result == TOLVEX_NEGATIVE && state_.length >= 2) {
    state_.result = state_.response[0] * 256 + state_.response[1];
  }
  // Named after the bench's process-number variable, as engineers know the message.
  if (state_.response_prc_no != state_.gb_prc_no) host_.message(L"gb_prc_no Error");
  if (reporting_) report();
  return StepResult::Reported;
}

void CommandStep::report() {
  Outcome outcome;
  std::copy_n(state_.code, 3, outcome.code);
  outcome.result = state_.result;
  outcome.length = state_.length;
  outcome.response = state_.response.data();
  outcome.capacity = state_.response.size();
  outcome.view_mode = view_mode_;
  host_.report(builder_.build(outcome));
}

}  // namespace tolvex::bench
