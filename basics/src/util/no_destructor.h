// Wraps an object that is constructed on first use and never destroyed, so it
// stays usable from other objects' destructors and exit handlers.
#ifndef KVBASICS_UTIL_NO_DESTRUCTOR_H
#define KVBASICS_UTIL_NO_DESTRUCTOR_H

#include <new>
#include <utility>

namespace tq {

template <typename T>
class NoDestructor {
public:
    template <typename... Args>
    explicit NoDestructor(Args&&... args) {
        new (storage_) T(std::forward<Args>(args)...);
    }
    NoDestructor(const NoDestructor&) = delete;
    NoDestructor& operator=(const NoDestructor&) = delete;

    T* get() { return std::launder(reinterpret_cast<T*>(storage_)); }

private:
    alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace tq

#endif  // KVBASICS_UTIL_NO_DESTRUCTOR_H
