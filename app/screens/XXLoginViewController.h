// The login screen: the password, the hint, the choice of language. After a lock it checks
// the volume again, which may lead to the register window when the vault has no account.
#pragma once

#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;
class XXInputPasswordView;

class XXLoginViewController : public QWidget {
    Q_OBJECT
public:
    explicit XXLoginViewController(QWidget *parent = nullptr);
    ~XXLoginViewController() override;

    // True while the unlocked screen is shown over this one.
    bool isLogin() const { return isLogin_; }

    XXInputPasswordView *inputView() const { return inputView_; }
    QPushButton *sureBtn() const { return sureBtn_; }
    QPushButton *forgetBtn() const { return forgetBtn_; }
    QComboBox *chooseLanguageView() const { return chooseLanguageView_; }

    // The OK action: sends the password as it stands, an empty one included.
    void sureAction();
    void forgetAction();
    // After the unlocked screen went away: the controls return and the volume is checked.
    void returnFromMainView();
    void retitle();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void languageChosen(int index);
    void fillLanguageChooser();
    void setControlsHidden(bool hidden);
    void loginSucceeded();
    void runDiskCheckAfterLock();

    bool isLogin_ = false;
    bool loggingIn_ = false;
    QLabel *title_;
    XXInputPasswordView *inputView_;
    QPushButton *sureBtn_;
    QPushButton *forgetBtn_;
    QComboBox *chooseLanguageView_;
};
