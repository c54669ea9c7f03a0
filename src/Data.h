// An owned byte buffer: section contents and HEX ranges. Copies are deep;
// an empty buffer holds no block at all.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>

class Data {
public:
  Data() = default;
  // Copies sizeInBytes bytes from source.
  Data(std::uint32_t sizeInBytes, const std::uint8_t *source);
  // sizeInBytes zero bytes.
  explicit Data(std::uint32_t sizeInBytes);
  Data(const Data &other);
  Data &operator=(const Data &other);
  Data(Data &&other) noexcept;
  Data &operator=(Data &&other) noexcept;
  ~Data() = default;

  std::uint8_t *bytes() { return cBytes.get(); }
  const std::uint8_t *bytes() const { return cBytes.get(); }
  std::uint32_t size() const { return cSize; }

  // This buffer's bytes followed by the other's.
  void append(const Data &other);

  // Hex dump: 32 bytes a line in groups of four.
  void print(std::ostream &out) const;

private:
  std::uint32_t cSize = 0;
  std::unique_ptr<std::uint8_t[]> cBytes;
};
