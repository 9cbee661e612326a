#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "fleet/store.h"

class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace kestrane::qt {

// Open Store: a store (a SQLite file or a PostgreSQL URI) and its computers,
// one to open or to compare with what the window shows.
class frmOpenStore : public QDialog {
    Q_OBJECT
public:
    enum Choice { None, Open, Compare };
    using Lister = std::function<std::vector<fleet::ComputerSummary>(const std::string&)>;

    frmOpenStore(const QString& store, Lister lister, QWidget* parent = nullptr);

    QLineEdit* txtStore() const { return txtStore_; }
    QTreeWidget* lvwComputers() const { return lvwComputers_; }
    QPushButton* cmdOpen() const { return cmdOpen_; }
    QPushButton* cmdCompare() const { return cmdCompare_; }

    // Lists the store's computers, the last capture first selected.
    void cmdList_Click();
    Choice choice() const { return choice_; }
    QString store() const;
    QString computer() const;

private:
    void choose(Choice c);

    Lister lister_;
    QLineEdit* txtStore_ = nullptr;
    QTreeWidget* lvwComputers_ = nullptr;
    QPushButton* cmdOpen_ = nullptr;
    QPushButton* cmdCompare_ = nullptr;
    Choice choice_ = None;
};

}  // namespace kestrane::qt
