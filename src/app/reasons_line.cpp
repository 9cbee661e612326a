#include "app/reasons_line.h"

#include <QLabel>
#include <QStatusBar>

namespace kestrane::app {

std::string ReasonsText(const std::vector<std::string>& reasons) {
    std::string text;
    for (const std::string& r : reasons) {
        if (!text.empty()) text += "; ";
        text += r;
    }
    return text;
}

void ShowReasons(QStatusBar* bar, const std::vector<std::string>& reasons) {
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
    const QString text = QString::fromStdString(ReasonsText(reasons));
    label->setText(text);
    label->setToolTip(text);
    label->setVisible(!reasons.empty());
}

}  // namespace kestrane::app
