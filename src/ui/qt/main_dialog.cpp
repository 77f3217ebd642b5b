#include "ui/qt/main_dialog.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

#include "ui/dialog/dialog_host.h"
#include "panel/panel_texts.h"
#include "panel/text_catalog.h"
#include "ui/qt/dialog_units.h"

#include "ui/qt/deruruzud_icon.xpm"

namespace ui::qt {
namespace {

// A control's rectangle in dialog units, as the template gives it.
struct TemplateRect {
  int x, y, width, height;
};

QRect ToPixels(const DialogBaseUnits& base, const TemplateRect& r) {
  return {HorizontalPixels(base, r.x), VerticalPixels(base, r.y), HorizontalPixels(base, r.width),
          VerticalPixels(base, r.height)};
}

// The path of the one local file a drag carries; empty for anything else.
QString DroppedFilePath(const QMimeData* mime) {
  if (!mime || !mime->hasUrls() || mime->urls().size() != 1) return {};
  const QUrl url = mime->urls().front();
  return url.isLocalFile() ? url.toLocalFile() : QString();
}

QLabel* MakeLabel(QWidget* parent, const DialogBaseUnits& base, const TemplateRect& r,
                  bool wrap) {
  auto* label = new QLabel(parent);
  label->setGeometry(ToPixels(base, r));
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setWordWrap(wrap);
  // Fixed-size static text: a new text never asks for a new layout.
  label->setFixedSize(label->size());
  label->setTextFormat(Qt::PlainText);
  return label;
}

}  // namespace

QFont DialogFont() {
  static const QString kTemplateFamily = QStringLiteral("ＭＳ Ｐゴシック");
  QFont font(QFontDatabase::hasFamily(kTemplateFamily) ? kTemplateFamily
                                                        : QStringLiteral("Noto Sans CJK JP"));
  font.setPointSize(9);
  return font;
}

MainDialog::MainDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
  setFont(DialogFont());
  const QFontMetrics metrics(font());
  const DialogBaseUnits base = BaseUnitsFor(
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")),
      metrics.height());
  baseX_ = base.x;
  baseY_ = base.y;
  setFixedSize(HorizontalPixels(base, 214), VerticalPixels(base, 112));
  setSizeGripEnabled(false);
  setWindowTitle(QString::fromUtf8(panel::kProgramName));
  setWindowIcon(ProgramIcon());
  // A data file may be dropped anywhere on the window (when onFileDropped is set).
  setAcceptDrops(true);

  // Template order, which is also the order the controls are stacked in.
  connect_ = new QPushButton(this);
  connect_->setGeometry(ToPixels(base, {157, 7, 50, 14}));
  connect_->setDefault(true);
  exit_ = new QPushButton(this);
  exit_->setGeometry(ToPixels(base, {157, 24, 50, 14}));
  port_ = new QLineEdit(this);
  port_->setGeometry(ToPixels(base, {61, 26, 40, 14}));
  progress_ = new QProgressBar(this);
  progress_->setGeometry(ToPixels(base, {7, 58, 200, 8}));
  progress_->setTextVisible(false);
  progress_->setRange(0, 100);  // the platform's default range until the first reset
  progress_->setValue(0);
  addressLabel_ = MakeLabel(this, base, {7, 7, 54, 8}, false);
  portLabel_ = MakeLabel(this, base, {7, 28, 54, 8}, false);
  status_ = MakeLabel(this, base, {7, 72, 200, 16}, true);
  model_ = MakeLabel(this, base, {7, 44, 62, 8}, false);
  version_ = MakeLabel(this, base, {78, 44, 102, 8}, false);
  // The template gives the caution 12 units, one and a half lines. In a font whose kana are
  // all full width the text takes two lines, so the rectangle is two lines high (it still
  // ends inside the client area) rather than cutting the second line in half.
  caution_ = MakeLabel(this, base, {7, 93, 200, 16}, true);
  address_ = new QLineEdit(this);
  address_->setGeometry(ToPixels(base, {61, 7, 74, 14}));

  // Tab stops in template order: Connect, Exit, port, address.
  for (QWidget* w : {static_cast<QWidget*>(connect_), static_cast<QWidget*>(exit_),
                     static_cast<QWidget*>(port_), static_cast<QWidget*>(address_)}) {
    w->setFocusPolicy(Qt::StrongFocus);
  }
  progress_->setFocusPolicy(Qt::NoFocus);
  setTabOrder(connect_, exit_);
  setTabOrder(exit_, port_);
  setTabOrder(port_, address_);

  QObject::connect(connect_, &QPushButton::clicked, this, [this] {
    if (onConnect) onConnect();
  });
  QObject::connect(exit_, &QPushButton::clicked, this, [this] {
    if (onExit) onExit();
  });
}

QWidget* MainDialog::Control(int id) const {
  switch (id) {
    case ui::ID_CONNECT: return connect_;
    case ui::ID_EXIT: return exit_;
    case ui::IDC_ADDRESS: return address_;
    case ui::IDC_PORT: return port_;
    case ui::IDC_PROGRESS: return progress_;
    case ui::IDC_PORT_LABEL: return portLabel_;
    case ui::IDC_STATUS: return status_;
    case ui::IDC_MODEL: return model_;
    case ui::IDC_VERSION: return version_;
    case ui::IDC_ADDRESS_LABEL: return addressLabel_;
    case ui::IDC_CAUTION: return caution_;
    default: return nullptr;
  }
}

void MainDialog::SetControlText(int id, const QString& text) {
  QWidget* w = Control(id);
  if (auto* label = qobject_cast<QLabel*>(w)) label->setText(text);
  else if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->setText(text);
  else if (auto* button = qobject_cast<QPushButton*>(w)) button->setText(text);
}

QString MainDialog::ControlText(int id) const {
  QWidget* w = Control(id);
  if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
  if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
  if (auto* button = qobject_cast<QPushButton*>(w)) return button->text();
  return {};
}

// Escape arrives here. It stands for the Exit button, so it does nothing while the update
// has the button disabled: leaving mid-write goes through the close question only.
void MainDialog::reject() {
  if (exit_->isEnabled() && onExit) onExit();
}

void MainDialog::closeEvent(QCloseEvent* event) {
  event->ignore();
  if (onClose) onClose();
}

void MainDialog::dragEnterEvent(QDragEnterEvent* event) {
  if (onFileDropped && !DroppedFilePath(event->mimeData()).isEmpty()) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void MainDialog::dropEvent(QDropEvent* event) {
  const QString path = DroppedFilePath(event->mimeData());
  if (!onFileDropped || path.isEmpty()) return event->ignore();
  event->acceptProposedAction();
  onFileDropped(path.toStdString());
}

QIcon ProgramIcon() { return QIcon(QPixmap(deruruzud_icon_xpm)); }

void CentreWindow(QWidget& window) {
  const QScreen* screen = window.screen();
  const QRect desktop = screen ? screen->geometry() : QRect(0, 0, 0, 0);
  const QRect frame = window.frameGeometry();
  // The desktop's right and bottom edges, exclusive, as the placement rule counts them.
  const panel::ScreenPoint at = panel::CentreWindow(desktop.x() + desktop.width(),
                                          desktop.y() + desktop.height(), frame.width(),
                                          frame.height());
  window.move(at.x, at.y);
  window.show();
}

int InitMainDialog(MainDialog& dialog) {
  panel::FileVersion v;
  panel::ReadOwnFileVersion(v);
  dialog.setWindowTitle(QString::fromStdString(panel::FormatTitle(v.major, v.minor, v.build, v.revision)));

  using panel::Text;
  using panel::TextId;
  const auto set = [&dialog](int id, const char* text) {
    dialog.SetControlText(id, QString::fromUtf8(text));
  };
  set(ui::IDC_ADDRESS, "");
  set(ui::IDC_PORT, panel::kDefaultPortText);
  set(ui::IDC_STATUS, Text(TextId::InitialStatus));
  set(ui::IDC_ADDRESS_LABEL, Text(TextId::AddressLabel));
  set(ui::IDC_PORT_LABEL, Text(TextId::PortLabel));
  set(ui::IDC_MODEL, "");
  set(ui::IDC_VERSION, "");
  set(ui::IDC_CAUTION, Text(TextId::Caution));
  set(ui::ID_EXIT, Text(TextId::Exit));
  set(ui::ID_CONNECT, Text(TextId::Connect));

  dialog.AddressEdit()->setMaxLength(ui::kAddressMaxChars);
  CentreWindow(dialog);
  return 0;
}

}  // namespace ui::qt
