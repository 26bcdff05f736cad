#include "wyr/windows/ui/TaskDialog.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCommandLinkButton>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>

namespace wyr::windows::ui {

namespace {

constexpr int kIconSize = 32;
constexpr int kFooterIconSize = 16;
constexpr int kTextWidth = 380; // wrapping width of the instruction, content and details

QLabel* wrappingLabel(const QString& name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setMinimumWidth(kTextWidth);
    label->hide();
    return label;
}

} // namespace

TaskDialog::TaskDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TaskDialog"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->setSizeConstraint(QLayout::SetFixedSize);

    // The upper part on the base colour, as task dialogs look.
    auto* main = new QWidget(this);
    main->setBackgroundRole(QPalette::Base);
    main->setAutoFillBackground(true);
    auto* mainLayout = new QHBoxLayout(main);
    mainLayout->setContentsMargins(12, 12, 12, 12);
    mainLayout->setSpacing(12);
    _icon = new QLabel(main);
    _icon->setObjectName(QStringLiteral("icon"));
    _icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    _icon->hide();
    mainLayout->addWidget(_icon, 0, Qt::AlignTop);

    auto* column = new QVBoxLayout;
    column->setSpacing(10);
    _instruction = wrappingLabel(QStringLiteral("mainInstruction"), main);
    QFont heading = _instruction->font();
    heading.setPointSizeF(heading.pointSizeF() * 1.25);
    heading.setBold(true);
    _instruction->setFont(heading);
    QPalette headingPalette = _instruction->palette();
    headingPalette.setColor(QPalette::WindowText, QColor(0, 51, 153));
    _instruction->setPalette(headingPalette);
    _content = wrappingLabel(QStringLiteral("content"), main);
    _details = wrappingLabel(QStringLiteral("expandedInformation"), main);
    column->addWidget(_instruction);
    column->addWidget(_content);
    column->addWidget(_details);

    _links = new QWidget(main);
    _linkLayout = new QVBoxLayout(_links);
    _linkLayout->setContentsMargins(0, 0, 0, 0);
    _linkLayout->setSpacing(2);
    _links->hide();
    column->addWidget(_links);
    column->addStretch();
    mainLayout->addLayout(column, 1);
    root->addWidget(main);

    // The lower part: the details toggle on the left, plain buttons on the right.
    auto* bottom = new QWidget(this);
    bottom->setObjectName(QStringLiteral("buttonRow"));
    _buttonLayout = new QHBoxLayout(bottom);
    _buttonLayout->setContentsMargins(12, 8, 12, 8);
    _toggle = new QToolButton(bottom);
    _toggle->setObjectName(QStringLiteral("detailsToggle"));
    _toggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    _toggle->setAutoRaise(true);
    _toggle->hide();
    connect(_toggle, &QToolButton::clicked, this, [this] { setExpanded(!_expanded); });
    _buttonLayout->addWidget(_toggle);
    _buttonLayout->addStretch();
    bottom->hide();
    root->addWidget(bottom);

    _footer = new QWidget(this);
    auto* footerLayout = new QVBoxLayout(_footer);
    footerLayout->setContentsMargins(0, 0, 0, 0);
    footerLayout->setSpacing(0);
    auto* line = new QFrame(_footer);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    footerLayout->addWidget(line);
    auto* footerRow = new QHBoxLayout;
    footerRow->setContentsMargins(12, 8, 12, 8);
    footerRow->setSpacing(8);
    _footerIcon = new QLabel(_footer);
    _footerIcon->setObjectName(QStringLiteral("footerIcon"));
    _footerText = new QLabel(_footer);
    _footerText->setObjectName(QStringLiteral("footer"));
    _footerText->setWordWrap(true);
    _footerText->setTextFormat(Qt::PlainText);
    _footerText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    footerRow->addWidget(_footerIcon, 0, Qt::AlignTop);
    footerRow->addWidget(_footerText, 1);
    footerLayout->addLayout(footerRow);
    _footer->hide();
    root->addWidget(_footer);
}

TaskDialog::~TaskDialog() = default;

QPixmap TaskDialog::iconPixmap(Icon icon, int size) {
    QStyle::StandardPixmap standard = QStyle::SP_MessageBoxInformation;
    switch (icon) {
    case Icon::None:
        return {};
    case Icon::Information:
        standard = QStyle::SP_MessageBoxInformation;
        break;
    case Icon::Warning:
        standard = QStyle::SP_MessageBoxWarning;
        break;
    case Icon::Error:
        standard = QStyle::SP_MessageBoxCritical;
        break;
    }
    return QApplication::style()->standardIcon(standard).pixmap(size, size);
}

void TaskDialog::setIcon(Icon icon) {
    _icon->setPixmap(iconPixmap(icon, kIconSize));
    _icon->setVisible(icon != Icon::None);
}

void TaskDialog::setMainInstruction(const QString& text) {
    _instruction->setText(text);
    _instruction->setVisible(!text.isEmpty());
}

void TaskDialog::setContent(const QString& text) {
    _content->setText(text);
    _content->setVisible(!text.isEmpty());
}

void TaskDialog::setExpandedInformation(const QString& text, const QString& expandLabel,
                                        const QString& collapseLabel) {
    _details->setText(text);
    _expandLabel = expandLabel;
    _collapseLabel = collapseLabel;
    _toggle->setVisible(!text.isEmpty());
    updateDetails();
}

void TaskDialog::setExpanded(bool expanded) {
    _expanded = expanded;
    updateDetails();
}

void TaskDialog::updateDetails() {
    const bool present = !_details->text().isEmpty();
    _details->setVisible(present && _expanded);
    _toggle->setText(_expanded ? _collapseLabel : _expandLabel);
    _toggle->setArrowType(_expanded ? Qt::UpArrow : Qt::DownArrow);
    _toggle->parentWidget()->setVisible(present || _hasPlainButtons);
}

void TaskDialog::addCommandLink(int id, const QString& text) {
    const auto lineFeed = text.indexOf(QLatin1Char('\n'));
    const QString title = lineFeed < 0 ? text : text.left(lineFeed);
    const QString note = lineFeed < 0 ? QString() : text.mid(lineFeed + 1);
    auto* link = new QCommandLinkButton(title, note, _links);
    link->setObjectName(linkName(id));
    link->setAutoDefault(false);
    connect(link, &QCommandLinkButton::clicked, this, [this, id] { press(id); });
    _linkLayout->addWidget(link);
    _links->show();
    delete _buttons[id];
    _buttons[id] = link;
}

void TaskDialog::addButton(int id, const QString& text) {
    auto* button = new QPushButton(text.isEmpty() ? commonButtonText(id) : text, _toggle->parentWidget());
    button->setObjectName(buttonName(id));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, id] { press(id); });
    _buttonLayout->addWidget(button);
    _hasPlainButtons = true;
    _toggle->parentWidget()->show();
    delete _buttons[id];
    _buttons[id] = button;
}

void TaskDialog::setDefaultId(int id) {
    for (const auto& [other, button] : _buttons) {
        if (auto* push = qobject_cast<QPushButton*>(button)) {
            push->setDefault(other == id);
        }
    }
    if (auto* chosen = button(id)) {
        chosen->setFocus();
    }
}

void TaskDialog::setFooter(const QString& text, Icon icon) {
    _footerText->setText(text);
    _footerIcon->setPixmap(iconPixmap(icon, kFooterIconSize));
    _footerIcon->setVisible(icon != Icon::None);
    _footer->setVisible(!text.isEmpty());
}

QAbstractButton* TaskDialog::button(int id) const {
    const auto it = _buttons.find(id);
    return it == _buttons.end() ? nullptr : it->second;
}

QString TaskDialog::linkName(int id) {
    return QStringLiteral("link%1").arg(id);
}

QString TaskDialog::buttonName(int id) {
    return QStringLiteral("button%1").arg(id);
}

QString TaskDialog::commonButtonText(int id) {
    switch (id) {
    case IdOk:
        return tr("OK");
    case IdCancel:
        return tr("Cancel");
    case IdAbort:
        return tr("Abort");
    case IdRetry:
        return tr("Retry");
    case IdIgnore:
        return tr("Ignore");
    case IdYes:
        return tr("Yes");
    case IdNo:
        return tr("No");
    case IdClose:
        return tr("Close");
    default:
        return {};
    }
}

void TaskDialog::reject() {
    done(IdCancel);
}

void TaskDialog::press(int id) {
    done(id);
}

} // namespace wyr::windows::ui
