#include "XXAddFileDialog.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFile>
#include <QFileInfo>

XXAddFileDialog *XXAddFileDialog::choose(QWidget *parent, const QString &prompt, Chosen chosen)
{
    auto *dialog = new XXAddFileDialog(parent, prompt);
    dialog->chosen_ = std::move(chosen);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
    return dialog;
}

XXAddFileDialog::XXAddFileDialog(QWidget *parent, const QString &prompt) : QFileDialog(parent)
{
    setObjectName(QStringLiteral("XXAddFileDialog"));
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::ExistingFiles);
    setDirectory(QDir::home());
    setLabelText(QFileDialog::Accept, prompt);
    setWindowTitle(prompt);
    // Folders are selectable alongside files in both of the dialog's views.
    for (auto *view : findChildren<QAbstractItemView *>())
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
}

void XXAddFileDialog::accept()
{
    std::vector<std::string> paths;
    for (const QString &path : selectedFiles())
        if (QFileInfo::exists(path))
            paths.push_back(QFile::encodeName(path).toStdString());
    if (paths.empty()) {
        QFileDialog::accept();  // a typed folder name opens it, as usual
        return;
    }
    auto chosen = std::move(chosen_);
    chosen_ = nullptr;
    QDialog::accept();
    if (chosen)
        chosen(paths);
}
