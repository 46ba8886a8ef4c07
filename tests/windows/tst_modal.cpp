// Showing a secondary window modally, and failures inside it.
#include "ProgramFixture.h"

#include "Application.h"
#include "Unit3.h"
#include "Unit4.h"
#include "controls/Guard.h"

#include "controls/TextComboBox.h"

#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QPointer>
#include <QImage>
#include <QPainter>
#include <QTimer>

TEST_F(ProgramTest, AModalWindowBlocksTheOthersAndIsHiddenNotDestroyedWhenClosed)
{
    startProgram();
    QPointer<TfrmInsert> window(frmInsert);
    auto *typed = new QLineEdit(frmInsert);

    bool wasModal = false;
    bool mainBlocked = false;
    QTimer::singleShot(0, [&] {
        wasModal = QApplication::activeModalWidget() == frmInsert && frmInsert->isVisible();
        mainBlocked = QApplication::activeModalWidget() != frmMain;
        typed->setText(QStringLiteral("Иванов"));
        // A failure in the modal window is shown and the window stays open and usable.
        guarded([] { throw Error(QStringLiteral("сбой в окне")); });
        frmInsert->close();
    });
    Application::showModal(frmInsert);

    EXPECT_TRUE(wasModal);
    EXPECT_TRUE(mainBlocked);
    EXPECT_EQ(dialogs.errors, QStringList{QStringLiteral("сбой в окне.")});
    ASSERT_FALSE(window.isNull()) << "closing hides the window, never destroys it";
    EXPECT_FALSE(frmInsert->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    QTimer::singleShot(0, [&] { frmInsert->close(); });
    Application::showModal(frmInsert);
    EXPECT_EQ(typed->text(), QStringLiteral("Иванов")) << "its controls keep their state";
}

TEST_F(ProgramTest, EveryWindowUsesTahomaBoldAtNineteenPixels)
{
    Application::registerFonts();
    startProgram();
    for (QWidget *widget :
         {static_cast<QWidget *>(frmMain->lbl1), static_cast<QWidget *>(frmMain->btn4),
          static_cast<QWidget *>(frmMain->cbb2)}) {
        const QFontInfo font(widget->font());
        EXPECT_EQ(font.family(), QStringLiteral("Tahoma")) << widget->objectName().toStdString();
        EXPECT_TRUE(widget->font().bold());
        EXPECT_EQ(font.pixelSize(), 19);
    }
}

TEST_F(ProgramTest, MinimisingOrHidingAModalWindowNeverEndsIt)
{
    startProgram();
    for (QWidget *window : {static_cast<QWidget *>(frmInsert), static_cast<QWidget *>(frmSprav)}) {
        SCOPED_TRACE(window->objectName().toStdString());
        // The window manager is asked for no minimise or maximise button.
        EXPECT_FALSE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
        EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
        EXPECT_TRUE(window->windowFlags() & Qt::WindowCloseButtonHint);

        bool stillRunning = false;
        bool mainStillBlocked = false;
        QTimer::singleShot(0, [&] {
            // What a window manager's minimise button does: the window is iconified, the
            // window system hides it.
            window->showMinimized();
            QCoreApplication::processEvents();
            QTimer::singleShot(0, [&] {
                stillRunning = QApplication::activeModalWidget() == window;
                mainStillBlocked = !frmMain->isEnabled() || QApplication::activeModalWidget() != nullptr;
                window->close();
            });
        });
        Application::showModal(window);
        EXPECT_TRUE(stillRunning) << "the modal loop outlives a minimise";
        EXPECT_TRUE(mainStillBlocked);
        EXPECT_FALSE(window->isVisible());

        // Shown again, it comes back restored, not minimised.
        bool restored = false;
        QTimer::singleShot(0, [&] {
            restored = !(window->windowState() & Qt::WindowMinimized) && window->isVisible();
            window->close();
        });
        Application::showModal(window);
        EXPECT_TRUE(restored);
    }
}

namespace {

// How many pixels of a text are inked when drawn in this font.
int inkedPixels(const QFont &font, const QString &text)
{
    QImage image(400, 40, QImage::Format_Grayscale8);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(5, 30, text);
    }
    int inked = 0;
    for (int y = 0; y < image.height(); ++y) {
        const uchar *line = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x)
            inked += line[x] < 128;
    }
    return inked;
}

} // namespace

TEST_F(ProgramTest, TheWindowFontIsDrawnBold)
{
    Application::registerFonts();
    QFont regular = Application::windowFont();
    regular.setBold(false);
    const QString text = QStringLiteral("СФОРМИРОВАТЬ СПИСОК");
    EXPECT_GT(inkedPixels(Application::windowFont(), text), inkedPixels(regular, text) * 5 / 4)
        << "bold strokes take clearly more ink";
}

TEST_F(ProgramTest, EveryRussianLetterOfTheWindowFontHasItsOwnWidthWithoutAGap)
{
    Application::registerFonts();
    const QFont font = Application::windowFont();
    const QFontMetrics metrics(font);
    ASSERT_EQ(QFontInfo(font).family(), QStringLiteral("Tahoma"));
    // A normal side bearing of Tahoma at 19 pixels is one or two pixels a side; Wine's Tahoma
    // Bold gives Ы and Ю the advance of a much wider letter, which reads as a gap inside a word.
    QString letters = QStringLiteral("ЁЙЫЮЯёйыюя");
    for (char16_t c = u'А'; c <= u'я'; ++c)
        letters += QChar(c);
    QStringList gaps;
    for (const QChar letter : letters) {
        // The ink as drawn, not as the font's tables claim it.
        QImage image(80, 40, QImage::Format_Grayscale8);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            painter.setFont(font);
            painter.setPen(Qt::black);
            painter.drawText(20, 30, QString(letter));
        }
        int left = image.width();
        int right = -1;
        for (int y = 0; y < image.height(); ++y) {
            const uchar *line = image.constScanLine(y);
            for (int x = 0; x < image.width(); ++x) {
                if (line[x] < 128) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
            }
        }
        const int advance = metrics.horizontalAdvance(letter);
        const int ink = right - left + 1;
        const int bearings = advance - ink;
        if (bearings > 4 || bearings < -2)
            gaps << QStringLiteral("%1: advance %2, ink %3 from %4").arg(letter).arg(advance).arg(ink).arg(left - 20);
    }
    EXPECT_TRUE(gaps.isEmpty()) << gaps.join(QStringLiteral("; ")).toStdString();
    EXPECT_EQ(QFontInfo(font).pixelSize(), 19);
}
