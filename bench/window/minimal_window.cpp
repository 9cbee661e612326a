// The yardstick for the window's start-up: a Qt Widgets window of the same
// shape (menu bar, tool bar, a tree beside a two-column list, status bar) and
// nothing else, built with the same flags. It ends once its tree has been
// painted, as kestrane does with KESTRANE_QUIT_AFTER_FIRST_PAINT set.
#include <QApplication>
#include <QHeaderView>
#include <QMainWindow>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>

namespace {

class QuitAfterFirstPaint : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !done_) {
            done_ = true;
            QTimer::singleShot(0, qApp, &QApplication::quit);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool done_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Minimal"));
    window.menuBar()->addMenu(QStringLiteral("&File"))->addAction(QStringLiteral("E&xit"), &app, &QApplication::quit);
    window.addToolBar(QStringLiteral("Main"))->addAction(QStringLiteral("Refresh"));
    auto* splitter = new QSplitter(&window);
    auto* tree = new QTreeWidget(splitter);
    tree->setHeaderHidden(true);
    auto* root = new QTreeWidgetItem(tree, {QStringLiteral("This computer")});
    for (const char* name : {"Hardware", "Operating System", "Software", "Network", "Users"})
        new QTreeWidgetItem(root, {QString::fromLatin1(name)});
    root->setExpanded(true);
    auto* list = new QTreeWidget(splitter);
    list->setHeaderLabels({QStringLiteral("Item"), QStringLiteral("Value")});
    list->header()->setStretchLastSection(true);
    new QTreeWidgetItem(list, {QStringLiteral("Name"), QStringLiteral("value")});
    window.setCentralWidget(splitter);
    window.statusBar()->showMessage(QStringLiteral("Ready"));
    window.resize(761, 610);
    QuitAfterFirstPaint quit;
    tree->viewport()->installEventFilter(&quit);
    window.show();
    return app.exec();
}
