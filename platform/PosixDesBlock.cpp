#include <nettle/des.h>

#include <cstring>

#include "platform/DesBlock.h"

namespace bcu::platform {

struct DesBlock::Impl {
  des_ctx ctx;
};

DesBlock::DesBlock() : impl_(std::make_unique<Impl>()) {
  std::memset(&impl_->ctx, 0, sizeof impl_->ctx);
}

DesBlock::~DesBlock() = default;

void DesBlock::SetKey(const std::uint8_t key[8]) {
  // des_set_key only reports weak keys; the schedule is set up for them too.
  des_set_key(&impl_->ctx, key);
}

void DesBlock::Encrypt(const std::uint8_t in[8], std::uint8_t out[8]) const {
  des_encrypt(&impl_->ctx, DES_BLOCK_SIZE, out, in);
}

}  // namespace bcu::platform
