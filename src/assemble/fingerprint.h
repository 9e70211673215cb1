// A 64-bit fingerprint of a byte stream, fed in pieces of any size: the same
// bytes give the same value however they are split. It tells whether a file
// still holds the bytes it held before; it is no defence against someone who
// crafts a collision, which anyone able to change the file need not do.
#pragma once

#include <cstddef>
#include <cstdint>

namespace folio::assemble {

class Fingerprint {
 public:
  void add(const std::uint8_t* data, std::size_t size);
  std::uint64_t value() const;
  std::uint64_t length() const { return length_; }

 private:
  void stripe(const std::uint8_t* p);

  std::uint64_t lanes_[4] = {0x60ea27eeadc0b5d6, 0xc2b2ae3d27d4eb4f, 0x0, 0x61c8864e7a143579};
  std::uint8_t pending_[32] = {};
  std::size_t pendingSize_ = 0;
  std::uint64_t length_ = 0;
};

}  // namespace folio::assemble
