// The bar above the list that finds rows by a piece of their text; the
// search itself is the window core's Finder.
#pragma once

#include <QWidget>

#include "listing/list_model.h"
#include "window/find.h"

class QLabel;
class QLineEdit;

namespace kestrane::qt {

class FindBar : public QWidget {
    Q_OBJECT
public:
    FindBar(const ListModel& list, window::Finder& finder, QWidget* parent = nullptr);

    // Shows the bar with the cursor in its text box.
    void open();
    void findNext();
    void findPrevious();
    QLineEdit* textBox() const { return txtFind_; }
    QLabel* statusLabel() const { return lblStatus_; }

signals:
    // A row to select and scroll to.
    void found(long row);
    void closed();

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    void show(const window::Finder::Hit& hit);

    const ListModel& list_;
    window::Finder& finder_;
    QLineEdit* txtFind_ = nullptr;
    QLabel* lblStatus_ = nullptr;
};

}  // namespace kestrane::qt
