#include "AboutWindow.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QUrl>

#include "report/ui/AboutLinks.h"

namespace ordana {

UrlOpener DefaultUrlOpener() {
  return [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); };
}

THyperlinkLabel::THyperlinkLabel(QWidget* parent) : QLabel(parent), Opener(DefaultUrlOpener()) {
  QFont f = font();
  f.setUnderline(true);
  setFont(f);
  QPalette p = palette();
  p.setColor(QPalette::WindowText, QColor(0, 0, 128));
  setPalette(p);
}

void THyperlinkLabel::mouseReleaseEvent(QMouseEvent* e) {
  QLabel::mouseReleaseEvent(e);
  if (e->button() != Qt::LeftButton || !rect().contains(e->position().toPoint())) return;
  emit clicked();
  if (Opener) Opener(URL);
}

void THyperlinkLabel::enterEvent(QEnterEvent* e) {
  QLabel::enterEvent(e);
  OC = cursor();
  setCursor(Qt::PointingHandCursor);
}

void THyperlinkLabel::leaveEvent(QEvent* e) {
  QLabel::leaveEvent(e);
  setCursor(OC);
}

namespace {
// A 17x17 picture: a globe for the web page, an envelope for the mail.
QLabel* Picture(QWidget* parent, bool mail, int x, int y) {
  QPixmap pm(17, 17);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0, 0, 128), 1.2));
  if (mail) {
    p.setBrush(QColor(255, 250, 220));
    p.drawRect(QRectF(1.5, 4.5, 14, 9));
    p.drawLine(QPointF(1.5, 4.5), QPointF(8.5, 10));
    p.drawLine(QPointF(15.5, 4.5), QPointF(8.5, 10));
  } else {
    p.setBrush(QColor(200, 225, 255));
    p.drawEllipse(QRectF(1.5, 1.5, 14, 14));
    p.drawEllipse(QRectF(5.5, 1.5, 6, 14));
    p.drawLine(QPointF(1.5, 8.5), QPointF(15.5, 8.5));
  }
  p.end();
  auto* l = new QLabel(parent);
  l->setPixmap(pm);
  l->setGeometry(x, y, 17, 17);
  return l;
}
}  // namespace

TForm6::TForm6(QWidget* owner, UrlOpener opener) : QDialog(owner) {
  setObjectName("TForm6");
  setWindowTitle("Report Generator");
  setFont(QFont("Tahoma", 8));
  setFixedSize(406, 269);
  Label1 = new QLabel(QString::fromUtf8("Генератор отчетов"), this);
  Label1->setObjectName("Label1");
  QFont tf("Tahoma");
  tf.setPixelSize(35);
  tf.setBold(true);
  Label1->setFont(tf);
  Label1->setGeometry(4, 16, 402, 48);
  Picture(this, false, 24, 100);
  Picture(this, true, 24, 130);
  HyperlinkLabel1 = new THyperlinkLabel(this);
  HyperlinkLabel1->setObjectName("HyperlinkLabel1");
  HyperlinkLabel1->setText(QString::fromStdU16String(kProductWebAddress));
  HyperlinkLabel1->URL = QString::fromStdU16String(kProductWebAddress);
  HyperlinkLabel1->setGeometry(48, 101, 330, 16);
  HyperlinkLabel2 = new THyperlinkLabel(this);
  HyperlinkLabel2->setObjectName("HyperlinkLabel2");
  HyperlinkLabel2->setText(QString::fromStdU16String(kSupportMailAddress));
  HyperlinkLabel2->URL = QString::fromStdU16String(kSupportMailUrl);
  HyperlinkLabel2->setGeometry(48, 131, 330, 16);
  for (auto* l : {HyperlinkLabel1, HyperlinkLabel2}) {
    l->setAttribute(Qt::WA_TranslucentBackground);
    l->Opener = opener;
  }
  Button1 = new QPushButton("OK", this);
  Button1->setObjectName("Button1");
  Button1->setGeometry(165, 228, 75, 25);
  Button1->setDefault(true);
  Button1->setAutoDefault(true);
  // Escape rejects a QDialog; route it to OK so both keys end with Accepted.
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace ordana
