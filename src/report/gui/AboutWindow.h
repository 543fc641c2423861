#pragma once
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <functional>

namespace ordana {

// Opens an address with the desktop (default: QDesktopServices::openUrl).
using UrlOpener = std::function<void(const QString&)>;
UrlOpener DefaultUrlOpener();

// A label that opens URL on click and shows the hand cursor while hovered.
class THyperlinkLabel : public QLabel {
  Q_OBJECT
 public:
  explicit THyperlinkLabel(QWidget* parent = nullptr);
  QString URL;
  QCursor OC;  // the cursor in force before the mouse entered
  UrlOpener Opener;
 signals:
  void clicked();
 protected:
  void mouseReleaseEvent(QMouseEvent* e) override;
  void enterEvent(QEnterEvent* e) override;
  void leaveEvent(QEvent* e) override;
};

class TForm6 : public QDialog {
  Q_OBJECT
 public:
  explicit TForm6(QWidget* owner = nullptr, UrlOpener opener = DefaultUrlOpener());
  QLabel* Label1;
  THyperlinkLabel* HyperlinkLabel1;
  THyperlinkLabel* HyperlinkLabel2;
  QPushButton* Button1;
  // Escape presses OK: the window ends with the result Accepted.
  void reject() override { accept(); }
};

}  // namespace ordana
