// One RAII wrapper for every kind of handle. The traits type names the raw type, its "no handle"
// value and how to close it, so that a HANDLE whose "none" is INVALID_HANDLE_VALUE and one whose
// "none" is null can never be mixed up.
//
//   struct FdTraits { using type = int; static type none() { return -1; } static void close(type h) { ::close(h); } };
//   using UniqueFd = tovi::UniqueHandle<FdTraits>;
#pragma once

#include <utility>

namespace tovi {

template <typename Traits>
class UniqueHandle {
public:
    using type = typename Traits::type;

    UniqueHandle() noexcept : h_(Traits::none()) {}
    explicit UniqueHandle(type h) noexcept : h_(h) {}
    UniqueHandle(UniqueHandle&& o) noexcept : h_(o.release()) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    type get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ != Traits::none(); }
    type release() noexcept { return std::exchange(h_, Traits::none()); }
    void reset(type h = Traits::none()) noexcept {
        const type old = std::exchange(h_, h);
        if (old != Traits::none()) Traits::close(old);
    }

private:
    type h_;
};

}  // namespace tovi
