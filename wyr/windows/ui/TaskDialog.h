#pragma once

#include <QDialog>
#include <QString>
#include <map>

class QAbstractButton;
class QBoxLayout;
class QLabel;
class QToolButton;
class QWidget;

namespace wyr::windows::ui {

// A task dialog: a title, an icon beside a main instruction and its content,
// optional details behind a toggle, command links and plain buttons, and an
// optional footer with its own icon.
//
//     TaskDialog dialog(parent);
//     dialog.setWindowTitle("Orvane");
//     dialog.setIcon(TaskDialog::Icon::Error);
//     dialog.setMainInstruction("Failed to open local log file.");
//     dialog.setContent("Click cancel to exit the program.");
//     dialog.setExpandedInformation(details, "Show Details", "Hide Details");
//     dialog.addCommandLink(201, "Continue\nNo log file will be created.");
//     dialog.addCommandLink(202, "Cancel\nOrvane will exit.");
//     dialog.setFooter("Support: ...");
//     const int id = dialog.exec(); // 201, 202, or IdCancel when closed
//
// exec() returns the id of the link or button pressed; closing the window or
// pressing Escape gives IdCancel (2).
//
// Tests and assistive technology find its parts by objectName: the dialog is
// "TaskDialog"; a command link "link<id>" and a plain button "button<id>"
// (linkName(), buttonName()); the labels "mainInstruction", "content",
// "expandedInformation" and "footer"; the details toggle "detailsToggle".
class TaskDialog : public QDialog {
    Q_OBJECT

public:
    enum class Icon { None, Information, Warning, Error };

    // The common buttons' ids; addButton() gives them their usual texts.
    static constexpr int IdOk = 1;
    static constexpr int IdCancel = 2;
    static constexpr int IdAbort = 3;
    static constexpr int IdRetry = 4;
    static constexpr int IdIgnore = 5;
    static constexpr int IdYes = 6;
    static constexpr int IdNo = 7;
    static constexpr int IdClose = 8;

    explicit TaskDialog(QWidget* parent = nullptr);
    ~TaskDialog() override;

    void setIcon(Icon icon);
    void setMainInstruction(const QString& text);
    void setContent(const QString& text);

    // Details shown under the content while expanded; the toggle reads
    // `expandLabel` while they are hidden and `collapseLabel` while they show.
    void setExpandedInformation(const QString& text, const QString& expandLabel,
                                const QString& collapseLabel);
    void setExpanded(bool expanded);
    bool isExpanded() const noexcept { return _expanded; }

    // A command link: `text` is its title, a line feed and its note.
    void addCommandLink(int id, const QString& text);
    // A plain button in the bottom row. An empty text takes the common button's
    // own ("OK", "Cancel", "Retry" ...) for the ids above.
    void addButton(int id, const QString& text = {});
    // The link or button that Enter presses.
    void setDefaultId(int id);

    void setFooter(const QString& text, Icon icon = Icon::Information);

    // The link or plain button with this id, or null.
    QAbstractButton* button(int id) const;

    static QString linkName(int id);
    static QString buttonName(int id);
    // The text of a common button id; empty for any other id.
    static QString commonButtonText(int id);

public Q_SLOTS:
    // Closing and Escape end the dialog with IdCancel.
    void reject() override;

private:
    void press(int id);
    void updateDetails();
    static QPixmap iconPixmap(Icon icon, int size);

    QLabel* _icon = nullptr;
    QLabel* _instruction = nullptr;
    QLabel* _content = nullptr;
    QLabel* _details = nullptr;
    QWidget* _links = nullptr;
    QBoxLayout* _linkLayout = nullptr;
    QToolButton* _toggle = nullptr;
    QBoxLayout* _buttonLayout = nullptr;
    QWidget* _footer = nullptr;
    QLabel* _footerIcon = nullptr;
    QLabel* _footerText = nullptr;
    QString _expandLabel;
    QString _collapseLabel;
    bool _expanded = false;
    bool _hasPlainButtons = false;
    std::map<int, QAbstractButton*> _buttons;
};

} // namespace wyr::windows::ui
