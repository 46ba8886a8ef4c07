// Turns the Markdown user manual, with its pictures, into the PDF the program opens.
// Usage: make-manual MANUAL.md OUTPUT.pdf
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QAbstractTextDocumentLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextLayout>
#include <QTextImageFormat>
#include <QTextStream>
#include <QUrl>

#include <QFile>

#include <algorithm>

namespace {

// Where a page that starts at `top` and may reach `limit` ends: before the first paragraph that
// would cross `limit`, which moves whole to the next page. Breaking inside a paragraph would print
// its line above the break twice (Qt draws one line more than the clip asks for), so only a
// paragraph taller than a whole page is broken between its lines.
qreal pageBreak(QTextDocument &document, qreal top, qreal limit)
{
    QAbstractTextDocumentLayout *layout = document.documentLayout();
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const QRectF area = layout->blockBoundingRect(block);
        if (area.bottom() <= limit)
            continue;
        if (area.top() > top) {
            // A heading goes with the paragraph under it.
            const QTextBlock heading = block.previous();
            if (heading.isValid() && heading.blockFormat().headingLevel() > 0 &&
                layout->blockBoundingRect(heading).top() > top)
                return layout->blockBoundingRect(heading).top();
            return std::min(area.top(), limit);
        }
        const QTextLayout *lines = block.layout();
        for (int i = 0; i < lines->lineCount(); ++i) {
            const QRectF line = lines->lineAt(i).rect().translated(lines->position());
            if (line.bottom() > limit)
                return line.top() > top ? line.top() : limit;
        }
    }
    return limit;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        QTextStream(stderr) << "Usage: make-manual MANUAL.md OUTPUT.pdf\n";
        return 2;
    }
    QFile source(args[1]);
    if (!source.open(QIODevice::ReadOnly)) {
        QTextStream(stderr) << "Cannot read " << args[1] << '\n';
        return 1;
    }

    QPdfWriter pdf(args[2]);
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setPageMargins(QMarginsF(18, 16, 18, 16), QPageLayout::Millimeter);
    pdf.setResolution(96);
    pdf.setTitle(QStringLiteral("Реестр колледжа — руководство пользователя"));
    pdf.setCreator(QStringLiteral("reestr"));

    QTextDocument manual;
    manual.setBaseUrl(QUrl::fromLocalFile(QFileInfo(args[1]).absolutePath() + QLatin1Char('/')));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    manual.setDefaultFont(font);
    manual.setMarkdown(QString::fromUtf8(source.readAll()));
    const QSizeF page = pdf.pageLayout().paintRectPixels(pdf.resolution()).size();
    // One long page: the breaks are chosen below, between lines.
    manual.setTextWidth(page.width());

    // Pictures wider than the page are shown at the page's width.
    for (QTextBlock block = manual.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            QTextImageFormat image = fragment.charFormat().toImageFormat();
            if (!image.isValid())
                continue;
            const QImage picture(
                QFileInfo(QFileInfo(args[1]).absolutePath() + QLatin1Char('/') + image.name())
                    .absoluteFilePath());
            if (picture.isNull()) {
                QTextStream(stderr) << "Missing picture " << image.name() << '\n';
                return 1;
            }
            const qreal width = std::min<qreal>(picture.width(), page.width() - 4);
            image.setWidth(width);
            image.setHeight(picture.height() * width / picture.width());
            QTextCursor cursor(&manual);
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(image);
        }
    }
    // Page by page, each ending above the first paragraph that would not fit whole, so that every
    // line is printed once, on one page.
    QPainter painter(&pdf);
    const qreal total = manual.size().height();
    for (qreal top = 0; top < total;) {
        const qreal bottom = pageBreak(manual, top, top + page.height());
        painter.save();
        painter.translate(0, -top);
        // The lines that only touch the page's edges belong to the neighbouring pages: Qt draws
        // every line that meets the clip, and a PDF keeps the text it clips away.
        constexpr qreal edge = 0.01;
        manual.drawContents(&painter, QRectF(0, top + edge, page.width(), bottom - top - 2 * edge));
        painter.restore();
        top = bottom;
        if (top < total)
            pdf.newPage();
    }
    return 0;
}
