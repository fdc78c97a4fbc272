#include "exchange.hpp"

#include <pthread.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "comm_port.hpp"
#include "command_entry.hpp"
#include "frame.hpp"
#include "messages.hpp"
#include "timers.hpp"
#include "tolvex/tolvex.h"

namespace tolvex {
namespace {

// Written by the entry after begin and before the worker is handed the job.
struct CommandRecord {
  char code[3] = {};
  std::uint8_t data[kDataMax] = {};
  std::uint32_t length = 0;
};

struct ResponseSlot {
  std::mutex lock;
  std::uint8_t data[kReceiveBufferSize] = {};
  int length = 0;
  std::uint8_t prc_no = 0;
  std::uint8_t busy = 0;
  int result = 0;
};

struct StopFlag {
  std::mutex lock;
  std::uint8_t flag = 0;
};

struct CompletionHandler {
  std::mutex lock;
  void (*fn)(std::uint8_t, void *) = nullptr;
  void *ctx = nullptr;
};

CommandRecord g_record;
// Exchange state. The working result is reset by begin while no command runs; all of it
// is otherwise used by the worker alone.
int g_working_result = 0;
std::uint8_t g_frame[kFrameBufferSize];
std::uint8_t g_rx[kReceiveBufferSize];
std::size_t g_rx_count = 0;

ResponseSlot &slot() {
  static ResponseSlot s;
  return s;
}
StopFlag &stop_state() {
  static StopFlag s;
  return s;
}
CompletionHandler &completion() {
  static CompletionHandler h;
  return h;
}

void clear_rx() {
  std::memset(g_rx, 0, sizeof g_rx);
  g_rx_count = 0;
}

std::size_t reply_length() { return (static_cast<std::size_t>(g_rx[2]) << 8) | g_rx[3]; }

// Moves what the receive thread queued into the receive buffer. The flag is cleared
// before popping, so bytes pushed meanwhile set it again and are never stranded. Bytes
// beyond the receive buffer are dropped: a reply that long cannot be taken anyway.
void drain_queue() {
  if (rx_ready(2) != 1) return;
  rx_ready(0);
  CByteQueue &queue = comm_port().m_QueueRead;
  int n = queue.count();
  std::uint8_t b = 0;
  while (n-- > 0 && queue.pop(b)) {
    if (g_rx_count < kReceiveBufferSize) g_rx[g_rx_count++] = b;
  }
}

// Drops what a late reply or line noise left in the receive queue.
void discard_leftovers() {
  rx_ready(0);
  CByteQueue &queue = comm_port().m_QueueRead;
  std::uint8_t b = 0;
  while (queue.pop(b)) {
  }
}

int send_frame(const std::uint8_t *frame, std::size_t size) {
  clear_rx();
  discard_leftovers();
  CCommPort &port = comm_port();
  if (port.write_bytes(frame, size) == 0) return 0;
  return port.drain(size) ? 1 : 0;
}

// One handshake byte, written and drained. False when the port refused it or never
// emptied its output queue.
bool send_byte(std::uint8_t b) {
  CCommPort &port = comm_port();
  return port.write_bytes(&b, 1) != 0 && port.drain(1);
}

// One send's handshake and reply. Returns 0 for a good reply, else the result code.
int wait_reply(bool short_reply) {
  bool acked = false;
  int bad_replies = 0;
  timer_start(3, 1000);
  timer_start(1, short_reply ? kShortReplyMs : kLongReplyMs);
  WakeSignal &wake = worker_wake();
  for (;;) {
    const std::uint64_t seen = wake.ticket();
    drain_queue();
    if (g_rx_count >= 1 && g_rx[0] == kAck) {
      if (!send_byte(kEnq)) g_working_result = TOLVEX_TX_ERROR;
      do {
        std::memmove(g_rx, g_rx + 1, kReceiveBufferSize - 1);
        g_rx[kReceiveBufferSize - 1] = 0;
        --g_rx_count;
      } while (g_rx_count >= 1 && g_rx[0] == kAck);
      acked = true;
    } else if (!acked && timer_expired(3)) {
      g_working_result = TOLVEX_NO_ACK;
      return TOLVEX_NO_ACK;
    }
    if (stop_flag(2) == 1) {
      g_working_result = TOLVEX_STOPPED;
      return TOLVEX_STOPPED;
    }
    if (timer_expired(1)) {
      g_working_result = TOLVEX_TIMEOUT;
      return TOLVEX_TIMEOUT;
    }
    if (g_rx_count >= 1 && g_rx[0] == kNak) {
      g_working_result = TOLVEX_NAK;
      return TOLVEX_NAK;
    }
    if (g_rx_count >= 4) {
      const std::size_t len = reply_length();
      if (len + 7 > kReceiveBufferSize) {  // can never fit the receive buffer
        g_working_result = TOLVEX_FRAME_ERROR;
        return TOLVEX_FRAME_ERROR;
      }
      if (g_rx_count >= len + 7 && g_rx[5 + len] == kEtx) {
        if (bcc(g_rx + 1, 5 + len) == g_rx[g_rx_count - 1]) {
          if (!send_byte(kAck)) {
            g_working_result = TOLVEX_TX_ERROR;
            return TOLVEX_TX_ERROR;
          }
          if (len < 6) {  // too short to hold the status word
            g_working_result = TOLVEX_FRAME_ERROR;
            return TOLVEX_FRAME_ERROR;
          }
          return 0;
        }
        if (!send_byte(kNak)) g_working_result = TOLVEX_TX_ERROR;
        if (bad_replies++ == 3) {
          g_working_result = TOLVEX_BCC_ERROR;
          return TOLVEX_BCC_ERROR;
        }
        clear_rx();
        continue;  // the resent reply may already be queued
      }
    }
    // Nothing to act on: sleep until bytes arrive, a stop, or the next window ends.
    auto deadline = timer_deadline(1);
    if (!acked) deadline = std::min(deadline, timer_deadline(3));
    wake.wait(seen, deadline);
  }
}

bool exchange(const CommandRecord &cmd) {
  std::memset(g_frame, 0, sizeof g_frame);
  const std::size_t size = build_frame(g_frame, cmd.code, cmd.data, cmd.length);
  const bool short_reply = is_short_reply(cmd.code);
  for (int send = 1;; ++send) {
    if (send_frame(g_frame, size) == 0) {
      g_working_result = TOLVEX_TX_ERROR;
      return false;
    }
    const int r = wait_reply(short_reply);
    if (r == 0) return g_working_result == 0;
    if ((r != TOLVEX_NO_ACK && r != TOLVEX_NAK) || send == 3) return false;
    g_working_result = 0;  // a resend that is answered ends like a first-time success
  }
}

// Fills the response slot from the finished exchange; busy stays 1 until finish.
void run_command() {
  timer_start(4, 15000);
  const bool ok = exchange(g_record);
  ResponseSlot &s = slot();
  std::lock_guard<std::mutex> guard(s.lock);
  if (ok) {
    const std::size_t data_length = reply_length() - 6;
    if (g_rx[8] == 0 && g_rx[9] == 0) {
      std::memcpy(s.data, g_rx + 11, data_length);
      s.length = static_cast<int>(data_length);
    } else {
      s.data[0] = g_rx[8];
      s.data[1] = g_rx[9];
      s.length = 2;
      g_working_result = TOLVEX_NEGATIVE;
    }
  }
  s.result = g_working_result;
  if (stop_flag(2) == 1) {
    g_working_result = TOLVEX_STOPPED;
    s.result = TOLVEX_STOPPED;
  } else if (timer_expired(4)) {
    g_working_result = TOLVEX_TIMEOUT;
    s.result = TOLVEX_TIMEOUT;
  }
}

std::uint8_t finish_with(int result) {
  ResponseSlot &s = slot();
  std::lock_guard<std::mutex> guard(s.lock);
  if (result >= 0) s.result = result;
  s.busy = 0;
  return s.prc_no;
}

void notify_completion(std::uint8_t prc_no) {
  void (*fn)(std::uint8_t, void *) = nullptr;
  void *ctx = nullptr;
  {
    std::lock_guard<std::mutex> guard(completion().lock);
    fn = completion().fn;
    ctx = completion().ctx;
  }
  if (fn != nullptr) fn(prc_no, ctx);
}

// The command worker: one persistent thread, started with the first command and joined
// when the library is unloaded. A command still running then ends as stopped.
class Worker {
 public:
  Worker() {
    // Everything the worker touches must outlive it.
    (void)comm_port();
    (void)slot();
    (void)stop_state();
    (void)completion();
  }
  ~Worker() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      shutdown_ = true;
    }
    cv_.notify_all();
    stop_flag(1);
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();  // the program is ending from inside a completion handler
    } else {
      thread_.join();
    }
  }
  Worker(const Worker &) = delete;
  Worker &operator=(const Worker &) = delete;

  // Hands the command in the record to the worker. False when no thread can run it.
  bool submit() {
    std::lock_guard<std::mutex> guard(lock_);
    if (!thread_.joinable()) {
      try {
        thread_ = std::thread([this] { loop(); });
      } catch (...) {
        return false;
      }
    }
    pending_ = true;
    cv_.notify_all();
    return true;
  }

 private:
  void loop() {
    ::pthread_setname_np(::pthread_self(), "tolvex-worker");
    for (;;) {
      {
        std::unique_lock<std::mutex> guard(lock_);
        cv_.wait(guard, [this] { return pending_ || shutdown_; });
        if (!pending_) return;
        pending_ = false;
      }
      run_command();
      const std::uint8_t prc_no = finish_with(-1);
      bool leaving = false;
      {
        std::lock_guard<std::mutex> guard(lock_);
        leaving = shutdown_;
      }
      if (!leaving) notify_completion(prc_no);
    }
  }

  std::mutex lock_;
  std::condition_variable cv_;
  bool pending_ = false;
  bool shutdown_ = false;
  std::thread thread_;
};

Worker &worker() {
  static Worker w;
  return w;
}

}  // namespace

int stop_flag(int op) {
  StopFlag &f = stop_state();
  switch (op) {
    case 0: {
      std::lock_guard<std::mutex> guard(f.lock);
      f.flag = 0;
      return 1;
    }
    case 1: {
      {
        std::lock_guard<std::mutex> guard(f.lock);
        f.flag = 1;
      }
      worker_wake().notify();
      return 1;
    }
    default: {
      std::lock_guard<std::mutex> guard(f.lock);
      return f.flag;
    }
  }
}

int res_slot(int op, std::uint8_t *data, int *length, std::uint8_t *prc_no, int *result) {
  ResponseSlot &s = slot();
  std::lock_guard<std::mutex> guard(s.lock);
  switch (op) {
    case 0:
      s.busy = 0;
      return 1;
    case 1:
      if (s.busy != 0) return 0;
      s.prc_no = s.prc_no == 255 ? 1 : static_cast<std::uint8_t>(s.prc_no + 1);
      std::memset(s.data, 0, sizeof s.data);
      s.length = 0;
      s.busy = 1;
      g_working_result = 0;
      s.result = 0;
      stop_flag(0);  // lock order: response slot, then stop flag
      if (prc_no != nullptr) *prc_no = s.prc_no;
      return 1;
    default: {
      if (s.busy != 0) return 0;
      const int n = std::clamp(s.length, 0, TOLVEX_RESPONSE_MAX);
      if (data != nullptr && n > 0) std::memcpy(data, s.data, static_cast<std::size_t>(n));
      if (length != nullptr) *length = n;
      if (prc_no != nullptr) *prc_no = s.prc_no;
      if (result != nullptr) *result = s.result;
      return 1;
    }
  }
}

int command_entry(const char *code, const std::uint8_t *data, std::uint32_t length) {
  if (code == nullptr || length > kDataMax || (length != 0 && data == nullptr)) return 0;
  Worker &w = worker();
  std::uint8_t prc_no = 0;
  if (res_slot(1, nullptr, nullptr, &prc_no) == 0) return 0;  // another command is in flight: leave it alone
  // Three characters; a shorter text is not read past its terminator.
  const std::size_t code_length = ::strnlen(code, 3);
  std::memset(g_record.code, 0, sizeof g_record.code);
  std::memcpy(g_record.code, code, code_length);
  g_record.length = length;
  if (length > 0) std::memcpy(g_record.data, data, length);
  if (!w.submit()) {
    show_message("CreateThread 2 ERROR");
    notify_completion(finish_with(TOLVEX_TX_ERROR));
  }
  return prc_no;
}

}  // namespace tolvex

extern "C" TOLVEX_API int exe_cmd(const char *code, const uint8_t *data, uint32_t length) {
  return tolvex::command_entry(code, data, length);
}

extern "C" TOLVEX_API int chk_res(uint8_t *data, int *length, uint8_t *prc_no, int *result) {
  return tolvex::res_slot(2, data, length, prc_no, result);
}

extern "C" TOLVEX_API int exe_stop(void) { return tolvex::stop_flag(1); }

extern "C" TOLVEX_API void tolvex_set_completion_handler(void (*handler)(uint8_t prc_no, void *ctx), void *ctx) {
  std::lock_guard<std::mutex> guard(tolvex::completion().lock);
  tolvex::completion().fn = handler;
  tolvex::completion().ctx = ctx;
}
