#include "qt/frmSystemCredentials.h"

#include <algorithm>

#include <QEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace kestrane::qt {

namespace {
// Room for fully qualified names, ssh://user@host:port and generated passwords.
constexpr int kMaxLength = 255;
}  // namespace

frmSystemCredentials::frmSystemCredentials(AppState& state, QWidget* parent)
    : QDialog(parent), state_(state) {
    setObjectName("frmSystemCredentials");
    setWindowTitle("Connect To Remote Computer");
    setModal(true);

    auto* frame = new QGroupBox("Details to login to a computer", this);
    auto* form = new QFormLayout(frame);
    auto make = [&](const char* name, const char* label) {
        auto* e = new QLineEdit(frame);
        e->setObjectName(name);
        e->installEventFilter(this);
        form->addRow(label, e);
        return e;
    };
    txtCompName_ = make("txtCompName", "Computer Name or IP Address");
    txtUserName_ = make("txtUserName", "User Name");
    txtPassword_ = make("txtPassword", "Password");
    txtPassword_->setEchoMode(QLineEdit::Password);

    lblDescription_ = new QLabel(
        "        Please enter the computer name or IP address of the computer to login to. Enter the "
        "login name and password which has necessary privileges to access the system information. "
        "For a local computer, just leave all the fields blank.",
        this);
    lblDescription_->setObjectName("lblDescription");
    lblDescription_->setWordWrap(true);

    cmdOK_ = new QPushButton("OK", this);
    cmdOK_->setObjectName("cmdOK");
    cmdOK_->setDefault(true);
    cmdCancel_ = new QPushButton("Cancel", this);
    cmdCancel_->setObjectName("cmdCancel");
    connect(cmdOK_, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
    connect(cmdCancel_, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });

    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    buttons->addWidget(cmdOK_);
    buttons->addWidget(cmdCancel_);
    auto* lay = new QVBoxLayout(this);
    lay->addWidget(frame);
    lay->addWidget(lblDescription_);
    lay->addLayout(buttons);

    setTabOrder(txtCompName_, txtUserName_);
    setTabOrder(txtUserName_, txtPassword_);
    setTabOrder(txtPassword_, cmdOK_);
    setTabOrder(cmdOK_, cmdCancel_);

    // Form_Load. The limit comes after the text, and never below it, so a
    // longer stored value is shown and kept whole instead of cut.
    auto load = [](QLineEdit* e, const std::string& value) {
        e->setText(QString::fromStdString(value));
        e->setMaxLength(std::max(kMaxLength, static_cast<int>(e->text().size())));
    };
    load(txtCompName_, state_.gstrComputer);
    load(txtUserName_, state_.gstrUserName);
    load(txtPassword_, state_.gstrPassword);
    txtCompName_->setFocus();
}

bool frmSystemCredentials::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        if (auto* e = qobject_cast<QLineEdit*>(watched)) {
            // After Qt's own focus handling, which may place the cursor.
            QTimer::singleShot(0, e, [e] { e->selectAll(); });
            e->selectAll();
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmSystemCredentials::cmdOK_Click() {
    state_.gstrComputer = txtCompName_->text().toStdString();
    state_.gstrUserName = txtUserName_->text().toStdString();
    state_.gstrPassword = txtPassword_->text().toStdString();
    accept();
}

void frmSystemCredentials::cmdCancel_Click() { reject(); }

}  // namespace kestrane::qt
