#include "wyr/windows/system/RegisteredMessage.h"

#include "wyr/windows/system/SystemError.h"

#include <map>
#include <mutex>
#include <vector>

namespace wyr::windows::system {

namespace {

struct Names {
    std::mutex lock;
    std::map<std::string, MessageId, std::less<>> ids;
    std::vector<std::string> byId;
};

Names& names() {
    static auto* const instance = new Names; // outlives every static that registers or posts
    return *instance;
}

} // namespace

MessageId registerMessage(std::string_view name) {
    if (name.empty()) {
        setLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto& n = names();
    std::lock_guard guard(n.lock);
    if (const auto it = n.ids.find(name); it != n.ids.end()) {
        return it->second;
    }
    const auto id = static_cast<MessageId>(FIRST_REGISTERED_MESSAGE + n.byId.size());
    n.byId.emplace_back(name);
    n.ids.emplace(std::string(name), id);
    return id;
}

std::string registeredMessageName(MessageId id) {
    auto& n = names();
    std::lock_guard guard(n.lock);
    if (id < FIRST_REGISTERED_MESSAGE || id - FIRST_REGISTERED_MESSAGE >= n.byId.size()) {
        return {};
    }
    return n.byId[id - FIRST_REGISTERED_MESSAGE];
}

} // namespace wyr::windows::system
