#include "app/find_bar.h"

#include <algorithm>

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace kestrane::app {

void ListFinder::search(const ListModel& list, const QString& text) {
    matches_.clear();
    current_ = -1;
    if (text.isEmpty()) return;
    auto has = [&text](const std::string& s) {
        return !s.empty() && QString::fromStdString(s).contains(text, Qt::CaseInsensitive);
    };
    for (std::size_t r = 0; r < list.rowCount(); ++r) {
        const ListRow& row = list.row(r);
        bool hit = has(row.text);
        for (std::size_t i = 0; !hit && i < row.sub.size(); ++i) hit = has(row.sub[i]);
        if (hit) matches_.push_back(static_cast<long>(r));
    }
}

ListFinder::Hit ListFinder::first() {
    if (matches_.empty()) return {};
    current_ = 0;
    return {matches_[0], false};
}

ListFinder::Hit ListFinder::next() {
    if (matches_.empty()) return {};
    const bool wrapped = current_ + 1 >= count() && current_ >= 0;
    current_ = current_ + 1 >= count() ? 0 : current_ + 1;
    return {matches_[static_cast<std::size_t>(current_)], wrapped};
}

ListFinder::Hit ListFinder::previous() {
    if (matches_.empty()) return {};
    const bool wrapped = current_ == 0;
    current_ = current_ <= 0 ? count() - 1 : current_ - 1;
    return {matches_[static_cast<std::size_t>(current_)], wrapped};
}

void ListFinder::setPosition(int position) {
    current_ = std::min(position, count()) - 1;
}

QString ListFinder::status(bool wrapped, bool forward) const {
    QString s = QString("%1 of %2").arg(matches_.empty() ? 0 : position()).arg(count());
    if (wrapped) s += forward ? ", continued from the top" : ", continued from the bottom";
    return s;
}

FindBar::FindBar(const ListModel& list, QWidget* parent) : QWidget(parent), list_(list) {
    setObjectName("fraFind");
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(2, 2, 2, 2);
    auto* caption = new QLabel("Find:", this);
    txtFind_ = new QLineEdit(this);
    txtFind_->setObjectName("txtFind");
    txtFind_->setClearButtonEnabled(true);
    caption->setBuddy(txtFind_);
    lblStatus_ = new QLabel(this);
    lblStatus_->setObjectName("lblFindStatus");
    auto* close = new QToolButton(this);
    close->setObjectName("cmdFindClose");
    close->setText("\u00D7");
    close->setToolTip("Close (Esc)");
    close->setAutoRaise(true);
    row->addWidget(caption);
    row->addWidget(txtFind_, 1);
    row->addWidget(lblStatus_, 1);
    row->addWidget(close);
    connect(txtFind_, &QLineEdit::textEdited, this, [this] {
        refresh();
        show(finder_.first(), true);
    });
    connect(txtFind_, &QLineEdit::returnPressed, this, [this] { findNext(); });
    connect(close, &QToolButton::clicked, this, [this] {
        hide();
        emit closed();
    });
    hide();
}

void FindBar::open() {
    QWidget::show();
    txtFind_->setFocus();
    txtFind_->selectAll();
}

// The list changes under the bar: a new selection, a listing still adding.
void FindBar::refresh() {
    const QString text = txtFind_->text();
    if (text == searchedText_ && list_.structureGeneration() == searchedGen_ && list_.rowCount() == searchedRows_)
        return;
    const int was = finder_.position();
    const bool sameList = text == searchedText_ && list_.structureGeneration() == searchedGen_;
    finder_.search(list_, text);
    searchedText_ = text;
    searchedGen_ = list_.structureGeneration();
    searchedRows_ = list_.rowCount();
    // More rows of the same list: carry on from the match shown before.
    if (sameList) finder_.setPosition(was);
}

void FindBar::findNext() {
    if (!isVisible()) open();
    refresh();
    show(finder_.next(), true);
}

void FindBar::findPrevious() {
    if (!isVisible()) open();
    refresh();
    show(finder_.previous(), false);
}

void FindBar::show(ListFinder::Hit hit, bool forward) {
    lblStatus_->setText(txtFind_->text().isEmpty() ? QString() : finder_.status(hit.wrapped, forward));
    if (hit.row >= 0) emit found(hit.row);
}

void FindBar::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape) {
        hide();
        emit closed();
        return;
    }
    QWidget::keyPressEvent(e);
}

}  // namespace kestrane::app
