#pragma once
/// Vectors whose elements start default-initialised (trivial ones
/// uninitialised): for large arrays whose every element the caller writes,
/// often on the toolkit's threads, which then also take the first touch of
/// the pages instead of the calling thread zeroing them all first.

#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

namespace vz {

/// An allocator that default-initialises the elements it constructs without
/// arguments.
template <class T>
struct Uninitialised : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = Uninitialised<U>;
    };
    Uninitialised() = default;
    template <class U>
    explicit Uninitialised(const Uninitialised<U>& /*other*/) noexcept {}
    template <class U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... A>
    void construct(U* p, A&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<A>(args)...);
    }
};

template <class T>
using FillVector = std::vector<T, Uninitialised<T>>;

}  // namespace vz
