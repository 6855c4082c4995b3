// The data of a drag out of the protected pane. Inside the window it carries only records;
// a program outside asks for the files' URLs, and only then are the dragged entries
// decrypted into the private paste cache (a drag that stays inside decrypts nothing).
// Qt has no file promises on Linux: the receiver asks on the GUI thread with a deadline of a
// few seconds, so the answer waits at most a little less for the copies and is empty past it.
#pragma once

#include <QMimeData>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "XXProtectFileWrapper.h"

class XXProtectDragData final : public QMimeData {
    Q_OBJECT
public:
    // Starts the decryption of the entries and returns the copies' paths once made.
    using Stager = std::function<std::shared_future<std::vector<std::string>>(const XXProtectFileArray &)>;

    XXProtectDragData(XXProtectFileArray entries, Stager stager);

    QStringList formats() const override;
    bool hasFormat(const QString &mimeType) const override;

    static constexpr std::chrono::milliseconds answerDeadline{3500};

protected:
    QVariant retrieveData(const QString &mimeType, QMetaType type) const override;

private:
    const std::vector<std::string> &stagedPaths() const;

    XXProtectFileArray entries_;
    Stager stager_;
    mutable std::shared_future<std::vector<std::string>> staged_;
    mutable std::vector<std::string> paths_;
    mutable bool answered_ = false;
};
