// Showing a secondary window modally, and failures inside it.
#include "ProgramFixture.h"

#include "windows/Application.h"
#include "windows/MainWindow.h"
#include "windows/DataModule.h"
#include "windows/NewRecordWindow.h"
#include "windows/ReferenceBooksWindow.h"
#include "controls/Guard.h"

#include "controls/DBLookupComboBox.h"
#include "controls/TextComboBox.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QMenu>
#include <QScrollBar>
#include <QLineEdit>
#include <QPushButton>
#include <QPointer>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <QTimer>

TEST_F(ProgramTest, AModalWindowBlocksTheOthersAndIsHiddenNotDestroyedWhenClosed)
{
    startProgram();
    QPointer<TfrmInsert> window(frmInsert);
    auto *typed = new QLineEdit(frmInsert);

    bool wasModal = false;
    bool mainBlocked = false;
    bool openAfterFailure = false;
    QStringList errorsInside;
    QString day;
    QTimer::singleShot(0, [&] {
        wasModal = QApplication::activeModalWidget() == frmInsert && frmInsert->isVisible();
        mainBlocked = QApplication::activeModalWidget() != frmMain;
        typed->setText(QStringLiteral("Иванов"));
        // A failure inside one of the window's own handlers (a day that is not a number) is
        // shown, and the window stays open, modal and usable.
        frmInsert->cbb1->setFocus();
        frmInsert->cbb1->lineEdit()->selectAll();
        QTest::keyClicks(frmInsert->cbb1->lineEdit(), QStringLiteral("x"));
        errorsInside = dialogs.errors;
        openAfterFailure = frmInsert->isVisible() && QApplication::activeModalWidget() == frmInsert;
        frmInsert->cbb1->lineEdit()->selectAll();
        QTest::keyClicks(frmInsert->cbb1->lineEdit(), QStringLiteral("12"));
        day = DM->tblMain.FieldNamed(QStringLiteral("Число")).AsText();
        frmInsert->close();
    });
    frmMain->N1->trigger();

    EXPECT_TRUE(wasModal);
    EXPECT_TRUE(mainBlocked);
    ASSERT_EQ(errorsInside.size(), 1);
    EXPECT_TRUE(errorsInside[0].contains(QStringLiteral("'x'"))) << errorsInside[0].toStdString();
    EXPECT_TRUE(openAfterFailure);
    EXPECT_EQ(day, QStringLiteral("12")) << "the window still takes input after the failure";
    EXPECT_EQ(dialogs.errors.size(), 1);
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
    int checked = 0;
    for (QWidget *window : {static_cast<QWidget *>(frmMain), static_cast<QWidget *>(frmInsert),
                            static_cast<QWidget *>(frmSprav)}) {
        QList<QWidget *> widgets = window->findChildren<QWidget *>();
        widgets.prepend(window);
        for (QWidget *widget : widgets) {
            // Menus take the desktop's menu font, as menus do everywhere; scroll bars and the
            // inner parts of scroll areas draw no text.
            if (qobject_cast<QMenu *>(widget) || qobject_cast<QScrollBar *>(widget) ||
                widget->objectName().startsWith(QLatin1String("qt_scrollarea_")))
                continue;
            const QFontInfo font(widget->font());
            const std::string name = window->objectName().toStdString() + "." +
                                     widget->objectName().toStdString() + " (" +
                                     widget->metaObject()->className() + ")";
            EXPECT_EQ(font.family(), QStringLiteral("Tahoma")) << name;
            EXPECT_TRUE(widget->font().bold()) << name;
            EXPECT_EQ(font.pixelSize(), 19) << name;
            ++checked;
        }
    }
    EXPECT_GT(checked, 100);

    // A drop-down list is a window of its own: the day, month and year lists of the new-record
    // window, each opened by a click on its arrow, show the window's font too.
    QStringList wrong;
    QTimer::singleShot(0, [&] {
        for (QComboBox *box :
             {static_cast<QComboBox *>(frmInsert->cbb1), static_cast<QComboBox *>(frmInsert->cbb2),
              static_cast<QComboBox *>(frmInsert->dblkcbb1)}) {
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->width() - 5, box->height() / 2));
            QAbstractItemView *list = box->view();
            const QFontInfo font(list->font());
            if (!list->isVisible() || font.family() != QStringLiteral("Tahoma") ||
                !list->font().bold() || font.pixelSize() != 19)
                wrong << box->objectName() + QStringLiteral(": ") + font.family();
            QTest::keyClick(list, Qt::Key_Escape);
        }
        frmInsert->close();
    });
    frmMain->N1->trigger();
    EXPECT_TRUE(wrong.isEmpty()) << wrong.join(QStringLiteral(", ")).toStdString();
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
                mainStillBlocked =
                    !frmMain->isEnabled() || QApplication::activeModalWidget() != nullptr;
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
            gaps << QStringLiteral("%1: advance %2, ink %3 from %4")
                        .arg(letter)
                        .arg(advance)
                        .arg(ink)
                        .arg(left - 20);
    }
    EXPECT_TRUE(gaps.isEmpty()) << gaps.join(QStringLiteral("; ")).toStdString();
    EXPECT_EQ(QFontInfo(font).pixelSize(), 19);
}
