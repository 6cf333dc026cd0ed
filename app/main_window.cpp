#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>

#include "ui_main_window.h"

namespace tavo {

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui_(new Ui::MainWindow) {
  ui_->setupUi(this);
}

MainWindow::~MainWindow() = default;

void MainWindow::closeEvent(QCloseEvent* event) {
  // A close arriving while the application terminates is not a second
  // request to quit.
  event->accept();
  if (!bclose_) return;
  bclose_ = false;
  QCoreApplication::quit();
}

}  // namespace tavo
