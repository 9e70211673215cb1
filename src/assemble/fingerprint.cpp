#include "assemble/fingerprint.h"

#include <cstring>

namespace folio::assemble {
namespace {

constexpr std::uint64_t kPrime1 = 0x9e3779b185ebca87;
constexpr std::uint64_t kPrime2 = 0xc2b2ae3d27d4eb4f;
constexpr std::uint64_t kPrime3 = 0x165667b19e3779f9;

std::uint64_t rotl(std::uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }

std::uint64_t word(const std::uint8_t* p) {
  std::uint64_t w = 0;
  for (int i = 7; i >= 0; --i) w = (w << 8) | p[i];  // the same on either byte order
  return w;
}

std::uint64_t mix(std::uint64_t lane, std::uint64_t w) {
  return rotl(lane + w * kPrime2, 31) * kPrime1;
}

}  // namespace

void Fingerprint::stripe(const std::uint8_t* p) {
  for (int i = 0; i < 4; ++i) lanes_[i] = mix(lanes_[i], word(p + 8 * i));
}

void Fingerprint::add(const std::uint8_t* data, std::size_t size) {
  length_ += size;
  if (pendingSize_ > 0) {
    const std::size_t take = size < 32 - pendingSize_ ? size : 32 - pendingSize_;
    std::memcpy(pending_ + pendingSize_, data, take);
    pendingSize_ += take;
    data += take;
    size -= take;
    if (pendingSize_ < 32) return;
    stripe(pending_);  // the rest, whole stripes and what is left, follows
  }
  for (; size >= 32; data += 32, size -= 32) stripe(data);
  std::memcpy(pending_, data, size);
  pendingSize_ = size;
}

std::uint64_t Fingerprint::value() const {
  std::uint64_t h = length_ * kPrime3;
  for (const std::uint64_t lane : lanes_) h = rotl(h ^ mix(0, lane), 27) * kPrime1 + kPrime3;
  for (std::size_t i = 0; i < pendingSize_; ++i)
    h = rotl(h ^ (pending_[i] * kPrime3), 11) * kPrime1;
  h ^= h >> 33;
  h *= kPrime2;
  h ^= h >> 29;
  return h;
}

}  // namespace folio::assemble
