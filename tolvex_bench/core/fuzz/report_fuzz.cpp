// The bench's report builder fed arbitrary command codes, result codes and responses.
//
// Input: records of [code (3 bytes), flags, result (4 bytes, little-endian), length
// (2 bytes), capacity (2 bytes), count, count response bytes]. flags bit 0 chooses the
// hexadecimal view, bit 1 a missing response buffer, bit 2 makes the result the given
// one instead of success. One builder takes every record, so the "Z01" message log
// carries over from one report to the next.
//
// The response buffer is exactly `capacity` bytes on the heap, so any read or write
// outside it is reported. Checked for every report: it opens with the command's name
// line and ends with one blank, it survives a round trip through UTF-8, and the message
// log stays within its capacity.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "report.hpp"
#include "text.hpp"

namespace {

using namespace tolvex::bench;

void check(bool ok, const char *what) {
  if (ok) return;
  std::fprintf(stderr, "invariant violated: %s\n", what);
  std::abort();
}

std::uint32_t le(const std::uint8_t *p, int n) {
  std::uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  constexpr std::size_t kHeader = 13;
  ReportBuilder builder;
  std::size_t pos = 0;
  while (size - pos >= kHeader) {
    const std::uint8_t *h = data + pos;
    const std::size_t count = std::min<std::size_t>(h[12], size - pos - kHeader);
    const std::uint8_t *bytes = h + kHeader;
    pos += kHeader + count;

    Outcome o;
    std::memcpy(o.code, h, 3);
    const std::uint8_t flags = h[3];
    o.view_mode = flags & 1;
    o.result = (flags & 4) ? static_cast<int>(le(h + 4, 4)) : 0;
    o.length = le(h + 8, 2);
    o.capacity = le(h + 10, 2) % 2048;
    // The wait step leaves zeros past the response length.
    std::unique_ptr<std::uint8_t[]> buffer;
    if ((flags & 2) == 0) {
      buffer = std::make_unique<std::uint8_t[]>(o.capacity);  // zero-filled
      std::memcpy(buffer.get(), bytes, std::min({count, o.capacity, static_cast<std::size_t>(o.length)}));
      o.response = buffer.get();
    } else {
      o.capacity = 0;
    }

    const std::wstring report = builder.build(o);
    check(!report.empty() && report.back() == L' ', "a report does not end with one blank");
    const std::wstring name = name_line(std::string_view(o.code, 3));
    check(report.compare(0, name.size(), name) == 0, "a report does not open with the command's name");
    if (report.size() < kWideBufferChars - 1) {
      check(to_wide(to_utf8(report)) == report, "a report does not survive a round trip through UTF-8");
    }
    check(builder.message_log().size() < kMessageLogCapacity, "the message log outgrew its capacity");
  }
  return 0;
}
