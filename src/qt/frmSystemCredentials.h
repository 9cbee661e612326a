#pragma once

#include <QDialog>

#include "core/app_state.h"

class QLineEdit;
class QPushButton;
class QLabel;

namespace kestrane::qt {

// Edits the three connection strings.
class frmSystemCredentials : public QDialog {
    Q_OBJECT
public:
    frmSystemCredentials(AppState& state, QWidget* parent = nullptr);

    QLineEdit* txtCompName() const { return txtCompName_; }
    QLineEdit* txtUserName() const { return txtUserName_; }
    QLineEdit* txtPassword() const { return txtPassword_; }
    QPushButton* cmdOK() const { return cmdOK_; }
    QPushButton* cmdCancel() const { return cmdCancel_; }
    QLabel* lblDescription() const { return lblDescription_; }

    void cmdOK_Click();
    void cmdCancel_Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    AppState& state_;
    QLineEdit* txtCompName_ = nullptr;
    QLineEdit* txtUserName_ = nullptr;
    QLineEdit* txtPassword_ = nullptr;
    QPushButton* cmdOK_ = nullptr;
    QPushButton* cmdCancel_ = nullptr;
    QLabel* lblDescription_ = nullptr;
};

}  // namespace kestrane::qt
