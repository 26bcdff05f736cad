#include "app/SystemInfoReport.h"

#include <array>
#include <charconv>

namespace app {

namespace {

// std::to_chars never looks at the locale, so a German desktop still gets "1.000000".
template <typename... Format> std::wstring number(auto value, Format... format) {
    std::array<char, 400> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, format...);
    return std::wstring(buffer.data(), result.ptr);
}

std::wstring yesNo(bool value) {
    return value ? L"Yes" : L"No";
}

struct ValueText : boost::static_visitor<std::wstring> {
    std::wstring operator()(bool v) const { return std::wstring(L"Boolean | ") + (v ? L"true" : L"false"); }
    std::wstring operator()(std::int32_t v) const { return L"Integer | " + number(v); }
    // "%f": fixed notation with six decimals.
    std::wstring operator()(double v) const { return L"Double | " + number(v, std::chars_format::fixed, 6); }
    std::wstring operator()(const std::wstring& v) const { return L"String | " + v; }
};

} // namespace

std::wstring SystemInfoReport::valueText(const wyr::windows::config::ConfigValue& value) {
    const ValueText visitor;
    return boost::apply_visitor(visitor, value);
}

std::wstring SystemInfoReport::build(const Inputs& inputs,
                                     const wyr::windows::config::ConfigMgr::Entries& settings) {
    const ProgramVersion& v = inputs.version;
    std::wstring text = L"Application Information\r\n";
    text += L"   Version\t\t\t: " + number(v.major) + L"." + number(v.minor) + L"." + number(v.revision) +
            L"\r\n";
    text += L"   Build\t\t\t: " + number(v.build) + L"\r\n";
    text += L"   Admin\t\t\t: " + yesNo(inputs.admin) + L"\r\n";
    text += L"   Debug\t\t\t: " + yesNo(inputs.debug) + L"\r\n";

    const auto& os = inputs.os;
    text += L"\r\nOS Information\r\n";
    text += L"   OS Name\t\t: " + os.osName + L"\r\n";
    text += L"   Processor Architecture\t: " + os.processorArchitecture + L"\r\n";
    text += L"   Service Pack\t\t: " + os.servicePack + L"\r\n";
    text += L"   Build Number\t\t: " + number(os.available ? os.buildNumber : 0) + L"\r\n";

    text += L"\r\nSettings\r\n";
    for (const auto& [name, entry] : settings) {
        if (!entry.transient) {
            text += L"   " + name + L" - " + valueText(entry.value) + L"\r\n";
        }
    }
    return text;
}

} // namespace app
