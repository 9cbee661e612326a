#include "qt/reasons_line.h"

#include <QLabel>
#include <QStatusBar>

namespace kestrane::qt {

void ShowReasons(QStatusBar* bar, const std::string& reasons) {
    if (!bar) return;
    auto* label = bar->findChild<QLabel*>("lblReasons", Qt::FindDirectChildrenOnly);
    if (!label) {
        if (reasons.empty()) return;
        label = new QLabel(bar);
        label->setObjectName("lblReasons");
        label->setContentsMargins(4, 0, 4, 0);
        label->setTextFormat(Qt::PlainText);  // read from the computer: never markup
        bar->addWidget(label, 3);
    }
    const QString text = QString::fromStdString(reasons);
    label->setText(text);
    label->setToolTip(text);
    label->setVisible(!reasons.empty());
}

}  // namespace kestrane::qt
