#pragma once

#include <QList>
#include <QRect>
#include <optional>
#include <string>

class QWidget;

namespace wyr::windows::config {
class ConfigMgr;
}

namespace wyr::windows::ui {

// Keeps a top-level window's placement in the configuration store under a
// section ("Window size"): the entries "<section>.Rectangle" (string, the normal
// rectangle's left, top, right and bottom as "%04d %04d %04d %04d", right and
// bottom exclusive, in the window's client coordinates without the window
// manager's frame), "<section>.Iconized" and "<section>.Maximized" (bool).
//
//     PersistWindowPos placement(L"Window size");
//     if (!placement.restore(frame)) frame.setWindowState(Qt::WindowMaximized);
//     frame.show();
//     ...
//     placement.save(frame); // before the frame goes
//
// A window that was minimised when saved comes back as it was before (normal or
// maximised): a program that starts minimised seems not to start.
class PersistWindowPos {
public:
    // Pixels of a stored rectangle that must lie on one screen, across and down,
    // for it to be used: enough to grab the window by its title.
    static constexpr int kMinimumVisible = 50;

    explicit PersistWindowPos(std::wstring section);
    PersistWindowPos(std::wstring section, config::ConfigMgr& store);

    // Applies the stored placement to a window that is not shown yet: its normal
    // rectangle and, when it was saved maximised, the maximised state. False, with
    // the window untouched, when nothing usable is stored: first start, a
    // malformed or wrong-typed entry, or a rectangle on no present screen (the
    // screens' available areas).
    bool restore(QWidget& window) const;
    bool restore(QWidget& window, const QList<QRect>& screens) const;

    // Stores the window's normal rectangle (when it has one) and its state.
    void save(const QWidget& window) const;

    // Whether at least kMinimumVisible × kMinimumVisible pixels of the rectangle
    // lie on one of the screens.
    static bool fitsScreens(const QRect& rectangle, const QList<QRect>& screens);
    // "%04d %04d %04d %04d" of left, top, right and bottom; digits only, whatever
    // the locale.
    static std::wstring formatRectangle(const QRect& rectangle);
    // The rectangle of that text; nothing for anything else, or for a rectangle
    // without area.
    static std::optional<QRect> parseRectangle(const std::wstring& text);

    const std::wstring& section() const noexcept { return _section; }

private:
    std::wstring entry(const wchar_t* name) const;

    std::wstring _section;
    config::ConfigMgr& _store;
};

} // namespace wyr::windows::ui
