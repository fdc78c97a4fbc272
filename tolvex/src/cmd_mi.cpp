// MIFARE Classic commands and the terminal's and card's secret keys. Keys and block
// contents come from the caller and go to the terminal byte for byte.
#include "command_pack.hpp"
#include "tolvex/tolvex.h"

using tolvex::CommandPack;
using tolvex::send_bare;

namespace {

constexpr std::size_t kBlock = 16;
constexpr std::size_t kSectorImage = 51;
constexpr std::size_t kKeyPair = 12;     // key A, key B
constexpr std::size_t kKeyTrailer = 16;  // key A, access bytes, key B

int block_write(const char (&code)[4], uint8_t sector, uint8_t block, const uint8_t *data16) {
  return CommandPack(code).put(sector).put(block).put(data16, kBlock).send();
}

int balance(const char (&code)[4], uint8_t sector, uint8_t block, int32_t value) {
  return CommandPack(code).put(sector).put(block).put_le32(static_cast<uint32_t>(value)).send();
}

}  // namespace

// ---- Card detection, blocks and sectors ----
extern "C" TOLVEX_API int mi_det(void) { return send_bare("R61"); }
extern "C" TOLVEX_API int mi_det_no_sens(void) { return send_bare("R62"); }
extern "C" TOLVEX_API int mi_rd_blk(uint8_t sector, uint8_t block) {
  return CommandPack("R31").put(sector).put(block).send();
}
extern "C" TOLVEX_API int mi_wt_blk(uint8_t sector, uint8_t block, const uint8_t *data16) {
  return block_write("R32", sector, block, data16);
}
extern "C" TOLVEX_API int mi_rd_blk_no_sens(uint8_t sector, uint8_t block) {
  return CommandPack("R33").put(sector).put(block).send();
}
extern "C" TOLVEX_API int mi_wt_blk_no_sens(uint8_t sector, uint8_t block, const uint8_t *data16) {
  return block_write("R34", sector, block, data16);
}
extern "C" TOLVEX_API int mi_rd_sct(uint8_t sector) { return CommandPack("R36").put(sector).send(); }
extern "C" TOLVEX_API int mi_wt_sct(uint8_t sector, const uint8_t *data51) {
  return CommandPack("R37").put(sector).put(data51, kSectorImage).send();
}

// ---- Value blocks ----
extern "C" TOLVEX_API int mi_bal_inc(uint8_t sector, uint8_t block, int32_t value) {
  return balance("R41", sector, block, value);
}
extern "C" TOLVEX_API int mi_bal_dec(uint8_t sector, uint8_t block, int32_t value) {
  return balance("R42", sector, block, value);
}
extern "C" TOLVEX_API int mi_bal_inc_no_sens(uint8_t sector, uint8_t block, int32_t value) {
  return balance("R43", sector, block, value);
}
extern "C" TOLVEX_API int mi_bal_dec_no_sens(uint8_t sector, uint8_t block, int32_t value) {
  return balance("R44", sector, block, value);
}

// ---- Secret keys ----
extern "C" TOLVEX_API int mi_cng_tm_key(uint8_t sector, const uint8_t *key12) {
  return CommandPack("R51").put(sector).put(key12, kKeyPair).send();
}
extern "C" TOLVEX_API int mi_cng_all_tm_key(const uint8_t *key12) {
  return CommandPack("R52").put(key12, kKeyPair).send();
}
// Flag 0: key A and key B (12 bytes); any other flag: the whole trailer with the
// access bytes (16 bytes).
extern "C" TOLVEX_API int mi_cng_card_key(uint8_t sector, uint8_t flag, const uint8_t *keys) {
  return CommandPack("R54").put(sector).put(keys, flag == 0 ? kKeyPair : kKeyTrailer).send();
}
extern "C" TOLVEX_API int mi_sel_key(uint8_t key_index) { return CommandPack("R53").put(key_index).send(); }
extern "C" TOLVEX_API int mi_cng_tm_key_of_set(uint8_t a, uint8_t b, const uint8_t *key12) {
  return CommandPack("R55").put(a).put(b).put(key12, kKeyPair).send();
}
extern "C" TOLVEX_API int mi_cng_all_tm_key_of_set(uint8_t a, const uint8_t *key12) {
  return CommandPack("R56").put(a).put(key12, kKeyPair).send();
}
extern "C" TOLVEX_API int mi_cng_tm_key_start(void) { return send_bare("R71"); }
extern "C" TOLVEX_API int mi_cng_tm_key_trans(uint8_t a, uint8_t b, const uint8_t *key12) {
  return CommandPack("R72").put(a).put(b).put(key12, kKeyPair).send();
}
extern "C" TOLVEX_API int mi_cng_tm_key_finish(void) { return send_bare("R73"); }
