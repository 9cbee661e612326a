#include "qt/find_bar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace kestrane::qt {

FindBar::FindBar(const ListModel& list, window::Finder& finder, QWidget* parent)
    : QWidget(parent), list_(list), finder_(finder) {
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
    connect(txtFind_, &QLineEdit::textChanged, this,
            [this](const QString& text) { show(finder_.setText(list_, text.toStdString())); });
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

void FindBar::findNext() {
    if (!isVisible()) open();
    show(finder_.next(list_));
}

void FindBar::findPrevious() {
    if (!isVisible()) open();
    show(finder_.previous(list_));
}

void FindBar::show(const window::Finder::Hit& hit) {
    lblStatus_->setText(QString::fromStdString(finder_.status(hit)));
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

}  // namespace kestrane::qt
