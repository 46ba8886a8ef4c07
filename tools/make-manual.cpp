// Turns the Markdown user manual, with its pictures, into the PDF the program opens.
// Usage: make-manual MANUAL.md OUTPUT.pdf
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QTextStream>
#include <QUrl>

#include <QFile>

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
    manual.setPageSize(page);

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
    manual.print(&pdf);
    return 0;
}
