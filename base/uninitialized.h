// An allocator whose containers leave new elements of trivial types uninitialised, for
// grid-sized buffers written in full right after they grow (a file read into them, a
// copy): the zero-fill would be a wasted pass, and it would make the first touch of the
// pages, which the kernel serves one fault at a time, happen on one thread.
#pragma once

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace base {

template <typename T>
struct Uninitialized : std::allocator<T> {
  using value_type = T;
  template <typename U>
  struct rebind {
    using other = Uninitialized<U>;
  };
  Uninitialized() noexcept = default;
  template <typename U>
  Uninitialized(const Uninitialized<U>&) noexcept {}  // NOLINT: converting, as std::allocator
  // Default-initialises (for float: leaves as is) where a container value-initialises.
  template <typename U>
  void construct(U* at) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(at)) U;
  }
  template <typename U, typename... Args>
  void construct(U* at, Args&&... args) {
    ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
  }
};

template <typename T, typename U>
bool operator==(const Uninitialized<T>&, const Uninitialized<U>&) noexcept {
  return true;
}

// Zeros from calloc, whose pages of a large block the kernel maps on first touch: a grid
// of zeros of which a small part is ever written (a brush stroke's weights) costs that
// part. Elements of trivial types are left as calloc gave them. A large block is mapped
// straight from the kernel: calloc may hand back one freed earlier in its heap, which it
// then clears in full (1 GiB: 0.1 s, where fresh pages cost nothing until touched).
inline constexpr size_t kFreshPagesFrom = size_t{64} << 20;

template <typename T>
struct Zeroed : Uninitialized<T> {
  using value_type = T;
  template <typename U>
  struct rebind {
    using other = Zeroed<U>;
  };
  Zeroed() noexcept = default;
  template <typename U>
  Zeroed(const Zeroed<U>&) noexcept {}  // NOLINT: converting, as std::allocator
  static bool FromKernel(size_t n) { return n * sizeof(T) >= kFreshPagesFrom; }
  T* allocate(size_t n) {
    if (n > std::numeric_limits<size_t>::max() / sizeof(T)) throw std::bad_array_new_length();
    if (FromKernel(n)) {
      void* p =
          mmap(nullptr, n * sizeof(T), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (p == MAP_FAILED) throw std::bad_alloc();
      return static_cast<T*>(p);
    }
    if (void* p = std::calloc(n, sizeof(T))) return static_cast<T*>(p);
    throw std::bad_alloc();
  }
  void deallocate(T* p, size_t n) noexcept {
    if (FromKernel(n)) {
      munmap(p, n * sizeof(T));
    } else {
      std::free(p);
    }
  }
};

template <typename T, typename U>
bool operator==(const Zeroed<T>&, const Zeroed<U>&) noexcept {
  return true;
}

// Such a vector equals a plain one with the same elements.
template <typename T>
bool operator==(const std::vector<T, Uninitialized<T>>& a, const std::vector<T>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

}  // namespace base
