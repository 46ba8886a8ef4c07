#include "MessageDialogs.h"

#include "ConflictWindow.h"
#include "WaitPanel.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

namespace {

int execCentred(QMessageBox &box)
{
    // Messages carry file names and typed text: shown as they are, never read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.adjustSize();
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        box.move(area.center() - box.rect().center());
    }
    return box.exec();
}

int show(QMessageBox::Icon icon, const QString &caption, const QString &text)
{
    QMessageBox box(icon, caption, text, QMessageBox::NoButton);
    box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    return execCentred(box);
}

} // namespace

MessageDialogs::MessageDialogs() = default;
MessageDialogs::~MessageDialogs() = default;

void MessageDialogs::showError(const QString &message)
{
    show(QMessageBox::Critical, applicationTitle(), errorBoxText(message));
}

void MessageDialogs::showNotice(const QString &text)
{
    show(QMessageBox::NoIcon, applicationTitle(), text);
}

void MessageDialogs::showInformation(const QString &text)
{
    // A lone carriage return breaks the line, as the text is written.
    QString shown = text;
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    show(QMessageBox::Information, QStringLiteral("Information"), shown);
}

void MessageDialogs::showNote(const QString &text)
{
    show(QMessageBox::Information, applicationTitle(), text);
}

bool MessageDialogs::showWaiting(const Wait &wait)
{
    using namespace std::chrono_literals;
    if (wait.waited == 0ms) {
        if (m_waitEnd)
            m_waitEnd->stop();
        m_waitPanel.reset();
        if (std::exchange(m_waitCursor, false))
            QGuiApplication::restoreOverrideCursor();
        return true;
    }
    if (!m_waitCursor) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        m_waitCursor = true;
    }
    if (wait.waited < 1s)
        return true;
    // Inside the window the person works in; before any window is shown (the start), a small
    // window of its own.
    if (!m_waitPanel) {
        QWidget *window = QApplication::activeWindow();
        m_waitPanel = std::make_unique<WaitPanel>(window);
        if (!window)
            m_waitPanel->setWindowTitle(applicationTitle());
    }
    m_waitPanel->show(wait);
    // A file's wait ends without a word when the lock goes: the panel goes once the program is
    // back in its event loop.
    if (!m_waitEnd) {
        m_waitEnd = std::make_unique<QTimer>();
        m_waitEnd->setSingleShot(true);
        QObject::connect(m_waitEnd.get(), &QTimer::timeout, [this] { showWaiting(Wait{}); });
    }
    m_waitEnd->start(300);
    // The window repaints and the panel's button works; timers wait, and the panel keeps every
    // other input away.
    QCoreApplication::processEvents(QEventLoop::X11ExcludeTimers |
                                    QEventLoop::ExcludeSocketNotifiers);
    return !m_waitPanel->cancelled();
}

bool MessageDialogs::confirm(const QString &text)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), text, QMessageBox::NoButton);
    QPushButton *ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(ok);
    execCentred(box);
    return box.clickedButton() == ok;
}

void MessageDialogs::showFatal(const QString &caption, const QString &text)
{
    show(QMessageBox::Critical, caption, text);
}

std::optional<QString> MessageDialogs::askPassword(const QString &question)
{
    QInputDialog dialog;
    dialog.setWindowTitle(applicationTitle());
    dialog.setLabelText(question);
    dialog.setTextEchoMode(QLineEdit::Password);
    dialog.setOkButtonText(QStringLiteral("OK"));
    dialog.setCancelButtonText(QStringLiteral("Отмена"));
    dialog.setWindowModality(Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}

QString MessageDialogs::chooseFile(const QString &title, const QString &filter)
{
    return QFileDialog::getOpenFileName(QApplication::activeWindow(), title, QDir::homePath(),
                                        filter);
}

ConflictChoice MessageDialogs::resolveConflict(const ConflictView &view)
{
    ConflictWindow window(view, QApplication::activeWindow());
    window.exec();
    return window.choice();
}
