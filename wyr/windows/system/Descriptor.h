#pragma once

#include <utility>

namespace wyr::windows::system {

// Owns a file descriptor and closes it once; -1 means none.
class Descriptor {
public:
    Descriptor() noexcept = default;
    explicit Descriptor(int fd) noexcept : _fd(fd) {}
    Descriptor(Descriptor&& other) noexcept : _fd(std::exchange(other._fd, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other._fd, -1));
        }
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }

    int get() const noexcept { return _fd; }
    bool valid() const noexcept { return _fd >= 0; }
    explicit operator bool() const noexcept { return valid(); }
    int release() noexcept { return std::exchange(_fd, -1); }
    void reset(int fd = -1) noexcept;

private:
    int _fd = -1;
};

} // namespace wyr::windows::system
