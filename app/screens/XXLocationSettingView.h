// The backup settings sheet: where backups go, the program's location, automatic backup and
// how many backups to keep. It reads the stored settings on a worker and hands the edited
// values to its sure block; storing them is the caller's.
#pragma once

#include <QDialog>

#include <cstdint>
#include <functional>

class QComboBox;
class QLabel;
class QPushButton;
class QToolButton;

class XXLocationSettingView final : public QDialog {
    Q_OBJECT
public:
    using SureBlock =
        std::function<void(std::int64_t location, bool isAutoBackup, long number, std::int64_t fixLocation)>;

    // Window-modal over parent's window; deletes itself once closed.
    explicit XXLocationSettingView(QWidget *parent);

    void setSureBlock(SureBlock block) { sureBlock_ = std::move(block); }
    // Runs on Cancel and on closing the window.
    void setCancelBlock(std::function<void()> block) { cancelBlock_ = std::move(block); }

    bool isLoaded() const { return loaded_; }
    std::int64_t selectedLocationType() const { return selectedLocationType_; }
    std::int64_t fixLocationType() const { return fixLocationType_; }
    bool isAutoBackup() const { return isAutoBackup_; }
    long maxBackUpNumber() const { return maxBackUpNumber_; }

    QComboBox *locationChooser() const { return locationChooser_; }
    QComboBox *appLocationChooser() const { return appLocationChooser_; }
    QToolButton *autoBackupSwitch() const { return switch_; }
    QToolButton *upBtn() const { return upBtn_; }
    QToolButton *downBtn() const { return downBtn_; }
    QLabel *numberLab() const { return numberLab_; }
    QPushButton *sureBtn() const { return sureBtn_; }
    QPushButton *cancelBtn() const { return cancelBtn_; }

    void turnUp();
    void turnDown();
    void toggleAutoBackup();
    void sureAction();

    // The folder backups of a location go to, as the service computes it.
    static QString backupFolderForLocation(std::int64_t location);

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    void showSettings(std::int64_t location, bool isAutoBackup, long number);
    void locationChosen(int index);
    void appLocationChosen(int index);
    void showNumber();
    void showSwitch();

    QComboBox *locationChooser_;
    QComboBox *appLocationChooser_;
    QToolButton *switch_;
    QToolButton *upBtn_;
    QToolButton *downBtn_;
    QLabel *numberLab_;
    QPushButton *sureBtn_;
    QPushButton *cancelBtn_;
    std::int64_t selectedLocationType_ = 0;
    std::int64_t fixLocationType_ = 0;
    bool isAutoBackup_ = true;
    long maxBackUpNumber_ = 5;
    bool loaded_ = false;
    bool answered_ = false;
    SureBlock sureBlock_;
    std::function<void()> cancelBlock_;
};
