// EncodedBytes: an encoded page file in memory, grown by the encoders.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pagetrim {

// The buffer is malloc'd and grown with realloc so that the codecs' C
// callbacks can grow it without exceptions, and report a failure through
// their own error paths instead.
class EncodedBytes {
 public:
  EncodedBytes() = default;
  EncodedBytes(const EncodedBytes&) = delete;
  EncodedBytes& operator=(const EncodedBytes&) = delete;
  EncodedBytes(EncodedBytes&& other) noexcept;
  EncodedBytes& operator=(EncodedBytes&& other) noexcept;
  ~EncodedBytes();

  const std::uint8_t* Data() const { return data_; }
  std::size_t Size() const { return size_; }
  // Empties the buffer but keeps its memory, for the next page of the same
  // size: fresh memory costs a page fault every 4 KiB on its first touch.
  void Clear() { size_ = 0; }

  // Makes room for at least `extra` more bytes; false when out of memory.
  bool Reserve(std::size_t extra);
  bool Append(const void* bytes, std::size_t count);
  // Free space after the written bytes, for libjpeg's destination manager,
  // which writes there and then reports how much it used.
  std::uint8_t* FreeSpace() { return data_ + size_; }
  std::size_t FreeCount() const { return capacity_ - size_; }
  void Commit(std::size_t count) { size_ += count; }

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace pagetrim
