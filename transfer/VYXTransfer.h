#pragma once
// The abstract base of the codeplug transfers: a link, the caller's buffer and
// the number of codeplug bytes in it. Neither the link nor the buffer is owned.
#include <cstdint>

namespace bcu::link {
struct CommLink;
}

namespace bcu::transfer {

class VYXTransfer {
 public:
  VYXTransfer() = default;
  virtual ~VYXTransfer() = default;
  VYXTransfer(const VYXTransfer&) = delete;
  VYXTransfer& operator=(const VYXTransfer&) = delete;

  // Radio to PC. > 0 success, <= 0 failure.
  virtual std::int32_t Upload() { return -1; }
  // PC to radio. > 0 success, <= 0 failure.
  virtual std::int32_t Download() { return -1; }
  virtual void SetLink(bcu::link::CommLink* newLink) { link = newLink; }

  void SetBuffer(std::uint8_t* newBuffer, std::int32_t newLength) {
    buffer = newBuffer;
    length = newLength;
  }
  std::int32_t GetLength() const { return length; }
  void SetLength(std::int32_t newLength) { length = newLength; }

 protected:
  bcu::link::CommLink* link = nullptr;
  std::uint8_t* buffer = nullptr;
  std::int32_t length = 0;
};

}  // namespace bcu::transfer
