#include "app/application.h"

#include <QAction>
#include <QMessageBox>

#include "ui_main_window.h"

namespace tavo {

Application::Application(ApplicationSetup setup)
    : log_(setup.log),
      bundle_(setup.bundlePath),
      store_(setup.prefsRoots, log_),
      authorization_(std::move(setup.authorization)),
      listButton_(*window_.ui().listButton),
      textView_(*window_.ui().textView),
      removeButton_(*window_.ui().removeButton),
      sizeLine_(*window_.ui().sizeLine),
      rescanLine_(*window_.ui().rescanLine, QStringLiteral("Rescan")),
      undoItem_(*window_.ui().actionUndo),
      qtAlert_(&window_),
      helperWait_(window_),
      mainThread_(window_) {
  auto unins = std::make_unique<Uninstaller>(
      openRemovalSession({.store = store_,
                          .authorization = *authorization_,
                          .tools = bundleTools(bundle_),
                          .log = log_,
                          .bundle = bundle_,
                          .trash = setup.trash,
                          .privateFolder = setup.privateFolder,
                          .home = setup.home,
                          .records = setup.records,
                          .alert = setup.alert ? setup.alert : &qtAlert_,
                          .helperWait = &helperWait_}),
      processInfo_, mainThread_);
  unins->setListButton(&listButton_);
  unins->setTextView(&textView_);
  unins->setRemoveButton(&removeButton_);
  unins->setSizeLine(&sizeLine_);
  unins->setRescanLine(&rescanLine_);
  unins->setUndoItem(&undoItem_);
  Uninstaller* controller = unins.get();
  Ui::MainWindow& ui = window_.ui();
  QObject::connect(ui.listButton, &QComboBox::activated, &window_,
                   [controller](int) { controller->listButtonValueChanged(); });
  QObject::connect(ui.removeButton, &QPushButton::clicked, &window_,
                   [controller] { controller->removeClicked(); });
  QObject::connect(ui.actionQuit, &QAction::triggered, &window_, [this] { window_.close(); });
  ui.actionRescan->setShortcuts(QKeySequence::Refresh);
  ui.actionUndo->setShortcuts(QKeySequence::Undo);
  // What an undo put back is found again by a scan.
  QObject::connect(ui.actionUndo, &QAction::triggered, &window_, [this, controller] {
    if (controller->undoClicked()) delegate_->rescan();
  });
  QObject::connect(ui.actionRescan, &QAction::triggered, &window_, [this] { delegate_->rescan(); });
  QObject::connect(ui.rescanLine, &QLabel::linkActivated, &window_, [this] { delegate_->rescan(); });
  QObject::connect(ui.actionAbout, &QAction::triggered, &window_, [this] {
    // A window title shows "&" as it is; only menu texts need it doubled.
    QString name = QString::fromStdString(bundle_.applicationName());
    QMessageBox::about(&window_, QStringLiteral("About ") + name,
                       name.toHtmlEscaped() +
                           QStringLiteral(" removes the TAVO Player and its sample libraries."));
  });

  delegate_ = std::make_unique<TAVO_UninstallerAppDelegate>(bundle_.bundlePath(), log_, mainThread_);
  delegate_->setWindow(&window_);
  delegate_->setUnins(std::move(unins));
  delegate_->setDialog(&dialog_);
  delegate_->setDialogProgress(&dialog_.dialogProgress());
}

// The delegate goes first: it stops the scan and releases the controller,
// which still refers to the controls and the store.
Application::~Application() { delegate_.reset(); }

}  // namespace tavo
