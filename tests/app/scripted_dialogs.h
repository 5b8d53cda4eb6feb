#pragma once

#include "app/dialogs.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace p1::test {

// The window's dialogs for tests: every message is kept, questions, files and folders are
// answered from scripts (Yes, and "cancelled", once a script is used up). onMessage runs while a
// message dialog would be up, so a test can look at the window at that moment.
class ScriptedDialogs : public Dialogs {
public:
    enum class Kind { Error, Warning, Confirm, Message };
    struct Shown {
        Kind kind;
        QString text;
    };

    QList<Shown> shown;
    QList<bool> confirmAnswers;
    QStringList chosenFiles;
    QStringList chosenFolders;
    QList<FileDialogRequest> fileRequests;
    QList<QPair<QString, QString>> folderRequests; // title, start folder
    std::function<void(const Shown&)> onMessage;

    QStringList texts(Kind kind) const
    {
        QStringList result;
        for (const Shown& message : shown)
            if (message.kind == kind)
                result.append(message.text);
        return result;
    }

    void showError(const QString& text) override { record(Kind::Error, text); }
    void showWarning(const QString& text) override { record(Kind::Warning, text); }
    bool confirm(const QString& text) override
    {
        record(Kind::Confirm, text);
        return confirmAnswers.isEmpty() || confirmAnswers.takeFirst();
    }
    void showMessage(const QString& text) override { record(Kind::Message, text); }

    QString chooseFile(const FileDialogRequest& request) override
    {
        fileRequests.append(request);
        return chosenFiles.isEmpty() ? QString() : chosenFiles.takeFirst();
    }
    QString chooseFolder(const QString& title, const QString& startFolder) override
    {
        folderRequests.append({title, startFolder});
        return chosenFolders.isEmpty() ? QString() : chosenFolders.takeFirst();
    }

private:
    void record(Kind kind, const QString& text)
    {
        shown.append({kind, text});
        if (onMessage)
            onMessage(shown.last());
    }
};

} // namespace p1::test
