#include "app/AboutDlg.h"

#include "app/Contact.h"
#include "app/ProgramVersion.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace app {

AboutDlg::AboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Orvane"));
    setObjectName(QStringLiteral("AboutDlg"));
    setModal(true);

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    icon->setPixmap(QPixmap(QStringLiteral(":/app/icons/orvane-64.png")));
    icon->setAlignment(Qt::AlignTop);

    auto* product = new QLabel(QStringLiteral("Orvane"), this);
    product->setObjectName(QStringLiteral("product"));
    QFont large = product->font();
    large.setPointSizeF(large.pointSizeF() * 1.6);
    large.setBold(true);
    product->setFont(large);

    auto* version = new QLabel(versionText(), this);
    version->setObjectName(QStringLiteral("version"));
    version->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* maker =
        new QLabel(QStringLiteral("Companion software for the Orvane X1 field instrument, by Tolvek."), this);
    maker->setObjectName(QStringLiteral("maker"));

    const QString address = QString::fromLatin1(Contact::kWebAddress);
    auto* link = new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(address.toHtmlEscaped()), this);
    link->setObjectName(QStringLiteral("webLink"));
    link->setTextFormat(Qt::RichText);
    link->setTextInteractionFlags(Qt::TextBrowserInteraction);
    link->setOpenExternalLinks(true);

    auto* text = new QVBoxLayout;
    text->addWidget(product);
    text->addWidget(version);
    text->addSpacing(8);
    text->addWidget(maker);
    text->addWidget(link);
    text->addStretch();

    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addSpacing(12);
    top->addLayout(text, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("ok"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

AboutDlg::~AboutDlg() = default;

QString AboutDlg::versionText() {
    const ProgramVersion v = ProgramVersion::current();
    return QStringLiteral("Version %1.%2.%3 (Build %4)")
        .arg(v.major)
        .arg(v.minor)
        .arg(v.revision)
        .arg(v.build);
}

} // namespace app
