#pragma once

#include <map>
#include <string>

namespace wyr {

// A closed set of named values. Each enumerator is a process-wide constant of the
// derived class, holding an integer value and a wide display name; a derived class
// may add further members (a framing character, a code text ...). Enumerators enter
// their enumeration's registry when they are constructed at static initialisation,
// so a value that crossed a thread or a message can be turned back into its
// enumerator. Two enumerators are equal when their values are equal.
template <typename Derived, typename Value = int> class NamedEnum {
public:
    using value_type = Value;
    using Registry = std::map<Value, const Derived*>;

    constexpr Value value() const noexcept { return _value; }
    const std::wstring& name() const noexcept { return _name; }

    // The registered enumerator with this value, or nullptr.
    static const Derived* fromValue(Value value) {
        const auto& entries = registry();
        const auto it = entries.find(value);
        return it == entries.end() ? nullptr : it->second;
    }

    // Every registered enumerator, ordered by value. Read-only once static
    // initialisation is over, so any thread may read it.
    static const Registry& registry() { return mutableRegistry(); }

    friend bool operator==(const NamedEnum& a, const NamedEnum& b) noexcept { return a._value == b._value; }

protected:
    NamedEnum(Value value, std::wstring name) : _value(value), _name(std::move(name)) {
        mutableRegistry().emplace(value, static_cast<const Derived*>(this));
    }

    // Copies are values for comparison and display; only the constants register.
    NamedEnum(const NamedEnum&) = default;
    NamedEnum& operator=(const NamedEnum&) = default;
    ~NamedEnum() = default;

private:
    // A function-local static so that enumerators in any translation unit may
    // register during static initialisation, whatever the order.
    static Registry& mutableRegistry() {
        static Registry entries;
        return entries;
    }

    Value _value;
    std::wstring _name;
};

} // namespace wyr
