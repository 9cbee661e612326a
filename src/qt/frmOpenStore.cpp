#include "qt/frmOpenStore.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace kestrane::qt {

frmOpenStore::frmOpenStore(const QString& store, Lister lister, QWidget* parent)
    : QDialog(parent), lister_(std::move(lister)) {
    setWindowTitle("Kestrane - Open Store");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Store (a SQLite file, or a postgresql:// URI):", this));
    auto* row = new QHBoxLayout;
    txtStore_ = new QLineEdit(store, this);
    txtStore_->setObjectName("txtStore");
    row->addWidget(txtStore_, 1);
    auto* browse = new QPushButton("Browse...", this);
    browse->setObjectName("cmdBrowse");
    row->addWidget(browse);
    auto* list = new QPushButton("List", this);
    list->setObjectName("cmdList");
    row->addWidget(list);
    layout->addLayout(row);

    lvwComputers_ = new QTreeWidget(this);
    lvwComputers_->setObjectName("lvwComputers");
    lvwComputers_->setRootIsDecorated(false);
    lvwComputers_->setHeaderLabels({"Computer", "Last capture", "Status", "Instances"});
    lvwComputers_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(lvwComputers_, 1);

    auto* buttons = new QDialogButtonBox(this);
    cmdOpen_ = buttons->addButton("Open", QDialogButtonBox::AcceptRole);
    cmdOpen_->setObjectName("cmdOpen");
    cmdCompare_ = buttons->addButton("Compare With", QDialogButtonBox::ActionRole);
    cmdCompare_->setObjectName("cmdCompare");
    buttons->addButton(QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
    cmdOpen_->setEnabled(false);
    cmdCompare_->setEnabled(false);

    connect(browse, &QPushButton::clicked, this, [this] {
        const QString f = QFileDialog::getOpenFileName(this, "Kestrane - Open Store", txtStore_->text(),
                                                       "Stores (*.sqlite *.db);;All files (*)");
        if (!f.isEmpty()) {
            txtStore_->setText(f);
            cmdList_Click();
        }
    });
    connect(list, &QPushButton::clicked, this, [this] { cmdList_Click(); });
    connect(txtStore_, &QLineEdit::returnPressed, this, [this] { cmdList_Click(); });
    connect(cmdOpen_, &QPushButton::clicked, this, [this] { choose(Open); });
    connect(cmdCompare_, &QPushButton::clicked, this, [this] { choose(Compare); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(lvwComputers_, &QTreeWidget::itemDoubleClicked, this, [this] { choose(Open); });
    connect(lvwComputers_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        cmdOpen_->setEnabled(item != nullptr);
        cmdCompare_->setEnabled(item != nullptr);
    });
    resize(560, 360);
}

void frmOpenStore::cmdList_Click() {
    lvwComputers_->clear();
    if (txtStore_->text().trimmed().isEmpty()) return;
    for (const fleet::ComputerSummary& c : lister_(txtStore_->text().trimmed().toStdString())) {
        auto* item = new QTreeWidgetItem(lvwComputers_);
        item->setText(0, QString::fromStdString(c.name));
        item->setText(1, c.lastCapture ? QString::fromStdString(c.started) : QString("none"));
        item->setText(2, QString::fromStdString(c.status));
        item->setText(3, QString::number(c.instances));
    }
    if (lvwComputers_->topLevelItemCount() > 0) lvwComputers_->setCurrentItem(lvwComputers_->topLevelItem(0));
}

QString frmOpenStore::store() const { return txtStore_->text().trimmed(); }

QString frmOpenStore::computer() const {
    QTreeWidgetItem* item = lvwComputers_->currentItem();
    return item ? item->text(0) : QString();
}

void frmOpenStore::choose(Choice c) {
    if (computer().isEmpty()) return;
    choice_ = c;
    accept();
}

}  // namespace kestrane::qt
