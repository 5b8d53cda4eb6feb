#include "app/dialogs.h"

#include <QAbstractButton>
#include <QDir>
#include <QFileDialog>
#include <QCoreApplication>
#include <QMessageBox>

namespace p1 {

namespace {

// The button captions are set here rather than left to a translation file, so that a machine
// without Qt's French translations still shows French buttons.
QMessageBox::StandardButton ask(QWidget* owner, QMessageBox::Icon icon, const QString& title,
                                const QString& text, QMessageBox::StandardButtons buttons)
{
    QMessageBox box(icon, title, text, buttons, owner);
    if (auto* yes = box.button(QMessageBox::Yes))
        yes->setText(QStringLiteral("&Oui"));
    if (auto* no = box.button(QMessageBox::No))
        no->setText(QStringLiteral("&Non"));
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

} // namespace

QString defaultDialogFolder(const QString& windowsFolder)
{
    if (QDir::isAbsolutePath(windowsFolder) && QDir(windowsFolder).exists())
        return windowsFolder;
    return QDir::homePath();
}

void QtDialogs::showError(const QString& text)
{
    ask(owner_, QMessageBox::Critical, QStringLiteral("Erreur"), text, QMessageBox::Ok);
}

void QtDialogs::showWarning(const QString& text)
{
    ask(owner_, QMessageBox::Warning, QStringLiteral("Avertissement"), text, QMessageBox::Ok);
}

// Escape and the close box give No as well: a question dismissed without an answer starts no run.
bool QtDialogs::confirm(const QString& text)
{
    return ask(owner_, QMessageBox::Question, QStringLiteral("Confirmation"), text,
               QMessageBox::Yes | QMessageBox::No)
        != QMessageBox::No;
}

void QtDialogs::showMessage(const QString& text)
{
    ask(owner_, QMessageBox::NoIcon, QCoreApplication::applicationName(), text,
        QMessageBox::Ok);
}

QString QtDialogs::chooseFile(const FileDialogRequest& request)
{
    QFileDialog dialog(owner_, QStringLiteral("Ouvrir"), request.initialFolder);
    // Qt's own dialog, because only there can the name filter be made to ignore letter case.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilter(request.filterName + QStringLiteral(" (") + request.pattern
                         + QStringLiteral(")"));
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    dialog.selectFile(request.initialFileName);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.first();
}

QString QtDialogs::chooseFolder(const QString& title, const QString& startFolder)
{
    return QFileDialog::getExistingDirectory(owner_, title, startFolder);
}

} // namespace p1
