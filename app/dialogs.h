#pragma once

#include <QString>

class QWidget;

namespace p1 {

// What an open-file dialog offers at first. Matching of the pattern ignores letter case, as the
// Windows dialogs the operators know do.
struct FileDialogRequest {
    QString initialFolder;
    QString initialFileName;
    QString filterName;
    QString pattern;
};

// Every dialog the window opens, behind one object so that tests can script the answers.
// UI thread only.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    virtual void showError(const QString& text) = 0;
    virtual void showWarning(const QString& text) = 0;
    // Yes/No question; false only for No.
    virtual bool confirm(const QString& text) = 0;
    virtual void showMessage(const QString& text) = 0;

    // The first chosen file; empty when cancelled.
    virtual QString chooseFile(const FileDialogRequest& request) = 0;
    // The chosen folder; empty when cancelled.
    virtual QString chooseFolder(const QString& title, const QString& startFolder) = 0;
};

// The given Windows default folder when it exists on this machine, else the user's home folder.
QString defaultDialogFolder(const QString& windowsFolder);

// The real dialogs, owned by the main window.
class QtDialogs : public Dialogs {
public:
    explicit QtDialogs(QWidget* owner) : owner_(owner) {}

    void showError(const QString& text) override;
    void showWarning(const QString& text) override;
    bool confirm(const QString& text) override;
    void showMessage(const QString& text) override;
    QString chooseFile(const FileDialogRequest& request) override;
    QString chooseFolder(const QString& title, const QString& startFolder) override;

private:
    QWidget* owner_;
};

} // namespace p1
