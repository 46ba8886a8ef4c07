#include "MessageDialogs.h"

#include "ConflictWindow.h"

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

void MessageDialogs::showWaiting(const QString &where, std::chrono::milliseconds waited,
                                 bool connecting)
{
    using namespace std::chrono_literals;
    if (waited == 0ms) {
        m_waitWindow.reset();
        if (std::exchange(m_waitCursor, false))
            QGuiApplication::restoreOverrideCursor();
        return;
    }
    if (!m_waitCursor) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        m_waitCursor = true;
    }
    // Only while connecting does nothing else of the program run: then, and only then, the
    // window's own events are handled (timers and the person's input wait).
    if (!connecting || waited < 1s)
        return;
    if (!m_waitWindow) {
        auto *label =
            new QLabel(QStringLiteral("Подключение к серверу баз данных: %1…").arg(where));
        label->setWindowTitle(applicationTitle());
        label->setObjectName(QStringLiteral("waitWindow"));
        label->setMargin(16);
        label->setWindowModality(Qt::ApplicationModal);
        m_waitWindow.reset(label);
        label->show();
    }
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                    QEventLoop::X11ExcludeTimers);
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
