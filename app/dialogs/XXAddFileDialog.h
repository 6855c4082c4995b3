// The file chooser of "add file": files and folders together, several at once. Qt's own
// dialog (the desktop's portals pick either files or folders, not both); choosing a folder
// takes it instead of opening it.
#pragma once

#include <QFileDialog>

#include <functional>
#include <string>
#include <vector>

class XXAddFileDialog final : public QFileDialog {
    Q_OBJECT
public:
    using Chosen = std::function<void(const std::vector<std::string> &paths)>;

    // Opens the dialog at the home folder, window-modal; chosen gets the paths on OK.
    static XXAddFileDialog *choose(QWidget *parent, const QString &prompt, Chosen chosen);

    void accept() override;

private:
    XXAddFileDialog(QWidget *parent, const QString &prompt);
    Chosen chosen_;
};
