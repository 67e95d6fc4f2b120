// The machine's physical memory, for refusing work that could never fit before it starts.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace velmo {

// Bytes of physical memory; 0 when the system does not say.
inline uint64_t physical_memory_bytes() noexcept {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  return static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size);
}

// "12.3 GB": sizes in the refusal messages.
inline std::string gigabytes(double bytes) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3g GB", bytes / 1e9);
  return text;
}

}  // namespace velmo
