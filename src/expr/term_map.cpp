// Term map storage: a dense entry array plus a linear-probing index for larger maps.
#include "expr/term_map.hpp"

#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

namespace velmo {
namespace {

constexpr double kDropBelow = 1e-15;

template <class T>
T* checked_alloc(size_t count) {
  void* p = std::malloc(count * sizeof(T));
  if (p == nullptr && count != 0) throw std::bad_alloc();
  return static_cast<T*>(p);
}

uint32_t capacity_for(size_t n) {
  if (n > (size_t{1} << 31)) throw std::length_error("term map too large");
  return n == 0 ? 0 : std::bit_ceil(static_cast<uint32_t>(n));
}

}  // namespace

TermMap::TermMap(TermMap&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      cap_(std::exchange(other.cap_, 0)),
      slots_(std::exchange(other.slots_, nullptr)) {}

TermMap& TermMap::operator=(const TermMap& other) {
  if (this != &other) {
    TermMap tmp(other);
    *this = std::move(tmp);
  }
  return *this;
}

TermMap& TermMap::operator=(TermMap&& other) noexcept {
  if (this != &other) {
    release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    cap_ = std::exchange(other.cap_, 0);
    slots_ = std::exchange(other.slots_, nullptr);
  }
  return *this;
}

void TermMap::release() noexcept {
  std::free(data_);
  std::free(slots_);
  data_ = nullptr;
  slots_ = nullptr;
  size_ = cap_ = 0;
}

void TermMap::copy_from(const TermMap& other) {
  const uint32_t cap = capacity_for(other.size_);
  data_ = checked_alloc<Term>(cap);
  std::memcpy(data_, other.data_, other.size_ * sizeof(Term));
  size_ = other.size_;
  cap_ = cap;
  if (!indexed()) return;
  if (cap == other.cap_) {
    slots_ = checked_alloc<uint32_t>(2 * size_t{cap});
    std::memcpy(slots_, other.slots_, 2 * size_t{cap} * sizeof(uint32_t));
  } else {
    rebuild_index();
  }
}

uint32_t TermMap::home(uint32_t index) const noexcept {
  // Fibonacci hashing: the top bits of the product spread consecutive indices well.
  const int bits = std::countr_zero(cap_) + 1;  // log2 of the slot count
  return static_cast<uint32_t>((uint64_t{index} * 0x9E3779B97F4A7C15ull) >> (64 - bits));
}

uint32_t TermMap::find_slot(uint32_t index) const noexcept {
  const uint32_t mask = slot_mask();
  for (uint32_t s = home(index);; s = (s + 1) & mask) {
    const uint32_t v = slots_[s];
    if (v == 0 || data_[v - 1].index == index) return s;
  }
}

uint32_t TermMap::find_pos(uint32_t index) const noexcept {
  if (!indexed()) {
    for (uint32_t p = 0; p < size_; ++p) {
      if (data_[p].index == index) return p;
    }
    return kNoPos;
  }
  const uint32_t v = slots_[find_slot(index)];
  return v == 0 ? kNoPos : v - 1;
}

const double* TermMap::find(uint32_t index) const noexcept {
  const uint32_t p = find_pos(index);
  return p == kNoPos ? nullptr : &data_[p].coef;
}

void TermMap::rebuild_index() {
  std::free(slots_);
  slots_ = nullptr;
  if (!indexed()) return;
  const size_t count = 2 * size_t{cap_};
  slots_ = checked_alloc<uint32_t>(count);
  std::memset(slots_, 0, count * sizeof(uint32_t));
  for (uint32_t p = 0; p < size_; ++p) slots_[find_slot(data_[p].index)] = p + 1;
}

void TermMap::grow_to(uint32_t cap) {
  Term* data = static_cast<Term*>(std::realloc(data_, size_t{cap} * sizeof(Term)));
  if (data == nullptr) throw std::bad_alloc();
  data_ = data;
  cap_ = cap;
  rebuild_index();
}

void TermMap::reserve(size_t n) {
  if (n > cap_) grow_to(capacity_for(n));
}

void TermMap::append(uint32_t index, double c) {
  if (size_ == cap_) grow_to(cap_ == 0 ? 1 : capacity_for(size_t{cap_} * 2));
  data_[size_] = Term{index, c};
  ++size_;
  if (indexed()) slots_[find_slot(index)] = size_;
}

void TermMap::remove_at(uint32_t pos) {
  const uint32_t last = size_ - 1;
  if (indexed()) {
    // Backward-shift deletion keeps every probe chain unbroken without tombstones.
    const uint32_t mask = slot_mask();
    uint32_t hole = find_slot(data_[pos].index);
    slots_[hole] = 0;
    for (uint32_t j = (hole + 1) & mask; slots_[j] != 0; j = (j + 1) & mask) {
      const uint32_t k = home(data_[slots_[j] - 1].index);
      const bool stays = hole <= j ? (hole < k && k <= j) : (hole < k || k <= j);
      if (!stays) {
        slots_[hole] = slots_[j];
        slots_[j] = 0;
        hole = j;
      }
    }
    if (pos != last) slots_[find_slot(data_[last].index)] = pos + 1;
  }
  data_[pos] = data_[last];
  size_ = last;
}

void TermMap::add_term(uint32_t index, double c) {
  const uint32_t p = find_pos(index);
  if (p == kNoPos) {
    if (std::fabs(c) < kDropBelow) return;
    append(index, c);
    return;
  }
  const double v = data_[p].coef + c;
  if (std::fabs(v) < kDropBelow) {
    remove_at(p);
  } else {
    data_[p].coef = v;
  }
}

void TermMap::set_term(uint32_t index, double c) {
  const uint32_t p = find_pos(index);
  if (p == kNoPos) {
    append(index, c);
  } else {
    data_[p].coef = c;
  }
}

}  // namespace velmo
