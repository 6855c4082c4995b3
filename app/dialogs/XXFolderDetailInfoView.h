// A protected folder's details: name, location, and, counted on a worker, its files and size.
#pragma once

#include <memory>

#include "XXDialogBase.h"

class XXProtectFileWrapper;

class XXFolderDetailInfoView final : public XXDialogBase {
    Q_OBJECT
public:
    static XXFolderDetailInfoView *show(QWidget *parent, std::shared_ptr<XXProtectFileWrapper> folder);

    const std::shared_ptr<XXProtectFileWrapper> &myWrapper() const { return myWrapper_; }
    QString numberText() const;
    QString sizeText() const;

private:
    XXFolderDetailInfoView(QWidget *parent, std::shared_ptr<XXProtectFileWrapper> folder);
    void answerClose() override;

    std::shared_ptr<XXProtectFileWrapper> myWrapper_;
    QLabel *number_;
    QLabel *size_;
};
