#pragma once

#include <QDialog>

class QLabel;

namespace kestrane::qt {

// Names the product, its edition and its version.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget* parent = nullptr);
    QLabel* lblVersion() const { return lblVersion_; }

private:
    QLabel* lblVersion_ = nullptr;
};

}  // namespace kestrane::qt
