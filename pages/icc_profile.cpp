// Checking the structure of an embedded ICC colour profile before it is
// carried into a written page.
#include <cstring>

#include "codecs.h"

namespace pagetrim::codecs {

namespace {

constexpr qsizetype HeaderSize = 128;
constexpr qsizetype TagEntrySize = 12;

std::uint32_t BigEndian32(const QByteArray& bytes, qsizetype at) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.constData()) + at;
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

}  // namespace

ProfileSpace CheckIccProfile(const QByteArray& profile) {
  const qsizetype size = profile.size();
  if (size < HeaderSize + 4 || BigEndian32(profile, 0) != std::uint32_t(size) ||
      std::memcmp(profile.constData() + 36, "acsp", 4) != 0) {
    return ProfileSpace::None;
  }
  const std::uint32_t tags = BigEndian32(profile, HeaderSize);
  if (tags > std::uint32_t((size - HeaderSize - 4) / TagEntrySize))
    return ProfileSpace::None;
  for (std::uint32_t i = 0; i < tags; ++i) {
    const qsizetype entry = HeaderSize + 4 + qsizetype(i) * TagEntrySize;
    const std::uint64_t offset = BigEndian32(profile, entry + 4);
    const std::uint64_t length = BigEndian32(profile, entry + 8);
    if (offset + length > std::uint64_t(size))
      return ProfileSpace::None;
  }
  const QByteArray space = profile.mid(16, 4);
  if (space == "GRAY")
    return ProfileSpace::Gray;
  if (space == "RGB ")
    return ProfileSpace::Rgb;
  return ProfileSpace::Other;
}

}  // namespace pagetrim::codecs
