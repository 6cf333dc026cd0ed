#pragma once
#include <QMainWindow>
#include <memory>

namespace Ui {
class MainWindow;
}

namespace tavo {

/// The main window: the product chooser, the summary and the remove button.
/// Closing it quits the application, once.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  Ui::MainWindow& ui() { return *ui_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  std::unique_ptr<Ui::MainWindow> ui_;
  bool bclose_ = true;  // cleared by the first close, which quits
};

}  // namespace tavo
