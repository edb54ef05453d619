#include "link/ScpRingBuffer.h"

#include <algorithm>
#include <cstring>

namespace bcu::link {

TScpRingBuffer::TScpRingBuffer(std::size_t capacity) : buffer_(capacity == 0 ? 1 : capacity) {}

std::size_t TScpRingBuffer::Used() const {
  if (full_) return Capacity();
  if (writePos_ >= readPos_) return writePos_ - readPos_;
  return Capacity() - readPos_ + writePos_;
}

bool TScpRingBuffer::Put(const std::uint8_t* data, std::size_t n) {
  if (n > Free()) return false;
  PutSome(data, n);
  return true;
}

std::size_t TScpRingBuffer::PutSome(const std::uint8_t* data, std::size_t n) {
  n = std::min(n, Free());
  std::size_t done = 0;
  while (done < n) {
    const std::size_t run = std::min(n - done, Capacity() - writePos_);
    std::memcpy(buffer_.data() + writePos_, data + done, run);
    done += run;
    writePos_ = (writePos_ + run) % Capacity();
  }
  if (n > 0 && writePos_ == readPos_) full_ = true;
  return n;
}

bool TScpRingBuffer::Get(std::uint8_t& byte) {
  if (Empty()) return false;
  byte = buffer_[readPos_];
  readPos_ = (readPos_ + 1) % Capacity();
  full_ = false;
  return true;
}

std::size_t TScpRingBuffer::Peek(std::size_t offset, const std::uint8_t*& data) const {
  const std::size_t used = Used();
  if (offset >= used) {
    data = nullptr;
    return 0;
  }
  const std::size_t pos = (readPos_ + offset) % Capacity();
  data = buffer_.data() + pos;
  return std::min(used - offset, Capacity() - pos);
}

void TScpRingBuffer::Consume(std::size_t n) {
  n = std::min(n, Used());
  if (n == 0) return;
  readPos_ = (readPos_ + n) % Capacity();
  full_ = false;
}

void TScpRingBuffer::Clear() {
  readPos_ = 0;
  writePos_ = 0;
  full_ = false;
}

}  // namespace bcu::link
