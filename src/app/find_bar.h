// Finding rows of the list by a piece of their text: the search itself
// (ListFinder) and the bar above the list that drives it (FindBar).
#pragma once

#include <QString>
#include <QWidget>
#include <vector>

#include "listing/list_model.h"

class QLabel;
class QLineEdit;

namespace kestrane::app {

class ListFinder {
public:
    struct Hit {
        long row = -1;         // -1: no match
        bool wrapped = false;  // went past the end (or the start) to get here
    };

    // The rows whose label or any value contains `text`, ignoring case.
    // The list is searched again when its rows have changed since.
    void search(const ListModel& list, const QString& text);
    Hit first();
    Hit next();
    Hit previous();
    int count() const { return static_cast<int>(matches_.size()); }
    // 1-based position of the current match; 0 before the first.
    int position() const { return current_ + 1; }
    void setPosition(int position);
    // "N of M", with a note when the search wrapped around.
    QString status(bool wrapped, bool forward) const;

private:
    std::vector<long> matches_;
    int current_ = -1;
};

class FindBar : public QWidget {
    Q_OBJECT
public:
    FindBar(const ListModel& list, QWidget* parent = nullptr);

    // Shows the bar with the cursor in its text box.
    void open();
    void findNext();
    void findPrevious();
    QLineEdit* textBox() const { return txtFind_; }
    QLabel* statusLabel() const { return lblStatus_; }
    const ListFinder& finder() const { return finder_; }

signals:
    // A row to select and scroll to.
    void found(long row);
    void closed();

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    void refresh();
    void show(ListFinder::Hit hit, bool forward);

    const ListModel& list_;
    ListFinder finder_;
    QLineEdit* txtFind_ = nullptr;
    QLabel* lblStatus_ = nullptr;
    unsigned long searchedGen_ = ~0ul;
    std::size_t searchedRows_ = 0;
    QString searchedText_;
};

}  // namespace kestrane::app
