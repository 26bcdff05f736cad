#pragma once

namespace wyr::memory {

// Base for objects that own a resource or an identity: copying is forbidden.
class NonCopyable {
protected:
    NonCopyable() = default;
    ~NonCopyable() = default;

public:
    NonCopyable(const NonCopyable&) = delete;
    NonCopyable& operator=(const NonCopyable&) = delete;
};

} // namespace wyr::memory
