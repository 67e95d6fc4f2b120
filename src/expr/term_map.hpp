// The term map: variable index -> coefficient, with unspecified iteration order.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmo {

struct Term {
  uint32_t index;
  double coef;
};

// Entries live in one contiguous array (iteration walks it); maps that outgrow a short linear
// scan also get an open-addressing index over it. Removal moves the last entry into the gap,
// which is why the order is unspecified. Kept to 24 bytes: expressions hold one each.
class TermMap {
 public:
  TermMap() noexcept = default;
  // Most maps copied or destroyed are empty and own no storage; the inline checks keep those
  // out of the out-of-line paths.
  TermMap(const TermMap& other) {
    if (other.size_ != 0) copy_from(other);
  }
  TermMap(TermMap&& other) noexcept;
  TermMap& operator=(const TermMap& other);
  TermMap& operator=(TermMap&& other) noexcept;
  ~TermMap() {
    if (data_ != nullptr) release();
  }

  size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  const Term* begin() const noexcept { return data_; }
  const Term* end() const noexcept { return data_ + size_; }
  // Mutable walk for scaling coefficients in place; indices must not be changed through it.
  Term* begin() noexcept { return data_; }
  Term* end() noexcept { return data_ + size_; }

  // old + c (or c when absent); the entry is removed when the new magnitude is below 1e-15.
  void add_term(uint32_t index, double c);
  // Stores c as is, zero included; never removes.
  void set_term(uint32_t index, double c);
  const double* find(uint32_t index) const noexcept;
  void reserve(size_t n);

 private:
  static constexpr uint32_t kScanLimit = 8;  // capacities up to this have no index
  static constexpr uint32_t kNoPos = UINT32_MAX;

  bool indexed() const noexcept { return cap_ > kScanLimit; }
  uint32_t slot_mask() const noexcept { return 2 * cap_ - 1; }
  uint32_t home(uint32_t index) const noexcept;
  uint32_t find_pos(uint32_t index) const noexcept;
  uint32_t find_slot(uint32_t index) const noexcept;
  void grow_to(uint32_t cap);
  void rebuild_index();
  void append(uint32_t index, double c);
  void remove_at(uint32_t pos);
  void copy_from(const TermMap& other);
  void release() noexcept;

  Term* data_ = nullptr;
  uint32_t size_ = 0;
  uint32_t cap_ = 0;          // 0 or a power of two
  uint32_t* slots_ = nullptr;  // 2 * cap_ slots holding position + 1, 0 for empty
};

}  // namespace velmo
