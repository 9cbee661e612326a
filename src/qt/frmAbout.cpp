#include "qt/frmAbout.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "qt/icons.h"
#include "core/version.h"

namespace kestrane::qt {

frmAbout::frmAbout(QWidget* parent) : QDialog(parent) {
    setObjectName("frmAbout");
    setWindowTitle("About");
    setModal(true);

    auto* picLogo = new QLabel(this);
    picLogo->setObjectName("picLogo");
    picLogo->setPixmap(IconForKey("Crest").pixmap(48, 48));

    auto* lblHeading = new QLabel("Kestrane", this);
    lblHeading->setObjectName("lblHeading");
    QFont f = lblHeading->font();
    f.setBold(true);
    f.setPointSizeF(f.pointSizeF() * 1.8);
    lblHeading->setFont(f);
    auto* lblEdition = new QLabel("Kestrane 32-bit edition", this);
    lblEdition->setObjectName("lblEdition");
    lblVersion_ = new QLabel("Version", this);
    lblVersion_->setObjectName("lblVersion");

    auto* fraInfo = new QGroupBox("Information", this);
    fraInfo->setObjectName("fraInfo");
    auto* info = new QVBoxLayout(fraInfo);
    for (const char* text : {
             "Kestrane is the work of the Kestrane team, who hold its copyright.",
             "You may use it and pass it on freely; you use it at your own risk.",
             "E-mail: team@kestrane.example.org",
             "Web: https://kestrane.example.org",
         }) {
        auto* l = new QLabel(text, fraInfo);
        l->setWordWrap(true);
        info->addWidget(l);
    }

    auto* cmdOK = new QPushButton("OK", this);
    cmdOK->setObjectName("cmdOK");
    cmdOK->setDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);

    auto* top = new QHBoxLayout();
    top->addWidget(picLogo, 0, Qt::AlignTop);
    auto* names = new QVBoxLayout();
    names->addWidget(lblHeading);
    names->addWidget(lblEdition);
    names->addWidget(lblVersion_);
    top->addLayout(names, 1);
    auto* lay = new QVBoxLayout(this);
    lay->addLayout(top);
    lay->addWidget(fraInfo);
    lay->addWidget(cmdOK, 0, Qt::AlignRight);

    // Form_Load: the version text, with two blanks before "Build:".
    lblVersion_->setText(QString::fromStdString(AboutVersionText()));
}

}  // namespace kestrane::qt
