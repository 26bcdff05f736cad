#include "wyr/windows/ui/PersistWindowPos.h"

#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/config/ConfigTypeMismatch.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <charconv>
#include <cwchar>

namespace wyr::windows::ui {

namespace {

QList<QRect> presentScreens() {
    QList<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens()) {
        areas.append(screen->availableGeometry());
    }
    return areas;
}

} // namespace

PersistWindowPos::PersistWindowPos(std::wstring section)
    : PersistWindowPos(std::move(section), config::ConfigMgr::instance()) {}

PersistWindowPos::PersistWindowPos(std::wstring section, config::ConfigMgr& store)
    : _section(std::move(section)), _store(store) {}

std::wstring PersistWindowPos::entry(const wchar_t* name) const {
    return _section + L"." + name;
}

bool PersistWindowPos::fitsScreens(const QRect& rectangle, const QList<QRect>& screens) {
    for (const QRect& screen : screens) {
        const QRect common = rectangle.intersected(screen);
        if (common.width() >= kMinimumVisible && common.height() >= kMinimumVisible) {
            return true;
        }
    }
    return false;
}

std::wstring PersistWindowPos::formatRectangle(const QRect& rectangle) {
    wchar_t text[64];
    std::swprintf(text, 64, L"%04d %04d %04d %04d", rectangle.left(), rectangle.top(),
                  rectangle.left() + rectangle.width(), rectangle.top() + rectangle.height());
    return text;
}

std::optional<QRect> PersistWindowPos::parseRectangle(const std::wstring& text) {
    // Narrow copy of the ASCII text; anything else cannot be a number here.
    std::string narrow;
    for (const wchar_t c : text) {
        if (c < 0 || c > 0x7F) {
            return std::nullopt;
        }
        narrow.push_back(static_cast<char>(c));
    }
    int edges[4];
    const char* cursor = narrow.data();
    const char* const end = narrow.data() + narrow.size();
    for (int i = 0; i < 4; ++i) {
        while (cursor < end && *cursor == ' ') {
            ++cursor;
        }
        const auto [next, error] = std::from_chars(cursor, end, edges[i]);
        if (error != std::errc() || next == cursor) {
            return std::nullopt;
        }
        cursor = next;
    }
    while (cursor < end && *cursor == ' ') {
        ++cursor;
    }
    if (cursor != end || edges[2] <= edges[0] || edges[3] <= edges[1]) {
        return std::nullopt;
    }
    return QRect(edges[0], edges[1], edges[2] - edges[0], edges[3] - edges[1]);
}

bool PersistWindowPos::restore(QWidget& window) const {
    return restore(window, presentScreens());
}

bool PersistWindowPos::restore(QWidget& window, const QList<QRect>& screens) const {
    std::wstring text;
    bool maximized = false;
    try {
        if (!_store.getString(entry(L"Rectangle"), text)) {
            return false;
        }
        _store.getBool(entry(L"Maximized"), maximized);
    } catch (const config::ConfigTypeMismatch&) {
        return false; // an entry edited into another type: as if nothing were stored
    }
    const auto rectangle = parseRectangle(text);
    if (!rectangle || !fitsScreens(*rectangle, screens)) {
        return false;
    }
    window.setGeometry(*rectangle);
    window.setWindowState(maximized ? Qt::WindowMaximized : Qt::WindowNoState);
    return true;
}

void PersistWindowPos::save(const QWidget& window) const {
    const bool minimized = window.isMinimized();
    const bool maximized = window.isMaximized();
    const QRect normal = minimized || maximized ? window.normalGeometry() : window.geometry();
    if (normal.isValid()) {
        _store.setString(entry(L"Rectangle"), formatRectangle(normal));
    }
    _store.setBool(entry(L"Iconized"), minimized);
    _store.setBool(entry(L"Maximized"), maximized);
}

} // namespace wyr::windows::ui
