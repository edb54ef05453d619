#pragma once
// A fixed-size byte ring: a read position, a write position and a full flag.
// Not synchronised; the dispatcher guards each ring with its own lock.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace bcu::link {

class TScpRingBuffer {
 public:
  explicit TScpRingBuffer(std::size_t capacity);

  std::size_t Capacity() const { return buffer_.size(); }
  std::size_t Used() const;
  std::size_t Free() const { return Capacity() - Used(); }
  bool Empty() const { return !full_ && readPos_ == writePos_; }
  bool Full() const { return full_; }

  // Appends all n bytes, or nothing when fewer than n are free.
  bool Put(const std::uint8_t* data, std::size_t n);
  // Appends as many of the n bytes as fit; returns how many.
  std::size_t PutSome(const std::uint8_t* data, std::size_t n);
  // Removes the oldest byte into `byte`; false when empty.
  bool Get(std::uint8_t& byte);
  // The contiguous run of stored bytes that starts `offset` bytes after the
  // oldest one: sets `data` to it and returns its length (0 when offset >=
  // Used()). The run ends at the end of the storage or of the stored bytes.
  std::size_t Peek(std::size_t offset, const std::uint8_t*& data) const;
  // Drops the n oldest bytes (at most Used()).
  void Consume(std::size_t n);
  void Clear();

 private:
  std::vector<std::uint8_t> buffer_;
  std::size_t readPos_ = 0;
  std::size_t writePos_ = 0;
  bool full_ = false;
};

}  // namespace bcu::link
