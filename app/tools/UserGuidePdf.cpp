// Build-time tool: turns the user guide's Markdown into UserGuide.pdf with Qt's
// own PDF writer, so the build needs no document converter beyond Qt.
//
//     orvane-userguide-pdf SOURCE.md OUTPUT.pdf
//
// Runs on any Qt platform, the offscreen one included. Writes to a temporary file
// and renames it, so a failed run never leaves a truncated PDF behind.

#include <QColor>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>
#include <QTextTableCell>
#include <QTextTableFormat>
#include <cstdio>

namespace {

int fail(const QString& message) {
    std::fprintf(stderr, "orvane-userguide-pdf: %s\n", qPrintable(message));
    return 1;
}

// Headings a little apart from what precedes them, body lines a little apart
// from each other: Markdown import leaves both tight.
void spaceBlocks(QTextDocument& document) {
    QTextCursor cursor(&document);
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        QTextBlockFormat format = block.blockFormat();
        if (format.headingLevel() > 0) {
            format.setTopMargin(format.headingLevel() == 1 ? 0 : 14);
            format.setBottomMargin(6);
        } else {
            format.setLineHeight(115, QTextBlockFormat::ProportionalHeight);
        }
        cursor.setPosition(block.position());
        cursor.setBlockFormat(format);
    }
}

// Tables with single thin rules and some room in the cells, instead of the
// double borders Markdown import gives them; the header row shaded.
void styleTables(QTextDocument& document) {
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        QTextCursor cursor(block);
        QTextTable* table = cursor.currentTable();
        if (table == nullptr || table->firstPosition() != block.position()) {
            continue;
        }
        QTextTableFormat format = table->format();
        format.setBorderCollapse(true);
        format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
        format.setBorder(1);
        format.setBorderBrush(QColor(140, 140, 140));
        format.setCellSpacing(0);
        format.setCellPadding(4);
        format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
        table->setFormat(format);
        for (int column = 0; column < table->columns(); ++column) {
            QTextTableCell cell = table->cellAt(0, column);
            QTextCharFormat shaded = cell.format();
            shaded.setBackground(QColor(232, 236, 240));
            cell.setFormat(shaded);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    const QStringList arguments = QGuiApplication::arguments();
    if (arguments.size() != 3) {
        return fail(QStringLiteral("usage: orvane-userguide-pdf SOURCE.md OUTPUT.pdf"));
    }

    QFile source(arguments.at(1));
    if (!source.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return fail(QStringLiteral("cannot read %1: %2").arg(arguments.at(1), source.errorString()));
    }
    const QString markdown = QString::fromUtf8(source.readAll());
    if (markdown.trimmed().isEmpty()) {
        return fail(QStringLiteral("%1 is empty").arg(arguments.at(1)));
    }

    QTextDocument document;
    QFont body(QStringLiteral("DejaVu Sans"));
    body.setPointSizeF(10.0);
    document.setDefaultFont(body);
    document.setDefaultStyleSheet(QStringLiteral("code { font-family: 'DejaVu Sans Mono'; }"));
    document.setMarkdown(markdown, QTextDocument::MarkdownDialectGitHub);
    spaceBlocks(document);
    styleTables(document);

    QSaveFile output(arguments.at(2));
    if (!output.open(QIODevice::WriteOnly)) {
        return fail(QStringLiteral("cannot write %1: %2").arg(arguments.at(2), output.errorString()));
    }
    {
        QPdfWriter writer(&output);
        writer.setTitle(QStringLiteral("Orvane User Guide"));
        writer.setCreator(QStringLiteral("Orvane"));
        writer.setResolution(300);
        // No margins of the page's own: print() then lays the document out with
        // its 2 cm frame margin on the whole A4 sheet and puts the page number in
        // the bottom margin.
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(),
                                         QPageLayout::Millimeter));
        document.print(&writer);
    }
    if (!output.commit()) {
        return fail(QStringLiteral("cannot write %1: %2").arg(arguments.at(2), output.errorString()));
    }
    return 0;
}
