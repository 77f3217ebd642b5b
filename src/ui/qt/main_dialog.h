// The main dialog: the eleven controls of the operator's window at the places the dialog
// template gives them, in dialog units of the dialog's font.
//
// Thread notes: a QWidget; touch it only on the GUI thread. The worker reaches it through
// QtDialogHost.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace ui::qt {

struct DialogBaseUnits;

class MainDialog : public QDialog {
 public:
  explicit MainDialog(QWidget* parent = nullptr);

  // The control with a dialog id (ID_CONNECT, IDC_STATUS, ...); null for an
  // unknown id.
  QWidget* Control(int id) const;
  // The text of a label, edit or button; other ids are ignored (read as empty).
  void SetControlText(int id, const QString& text);
  QString ControlText(int id) const;
  QLineEdit* AddressEdit() const { return address_; }
  QLineEdit* PortEdit() const { return port_; }
  QPushButton* ConnectButton() const { return connect_; }
  QPushButton* ExitButton() const { return exit_; }
  QProgressBar* ProgressBar() const { return progress_; }

  // The base units this dialog was laid out with.
  int BaseUnitX() const { return baseX_; }
  int BaseUnitY() const { return baseY_; }

  // What the shell does with the three ways out and in. Connect: the Connect button or
  // Enter. Exit: the Exit button, or Escape while the Exit button is usable. Close: the
  // title-bar close (or the window manager's); the dialog itself never closes on it.
  std::function<void()> onConnect;
  std::function<void()> onExit;
  std::function<void()> onClose;
  // A single local file dropped on the window (its path in UTF-8). Without it the window
  // takes no drops.
  std::function<void(const std::string&)> onFileDropped;

 protected:
  void reject() override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  QPushButton* connect_ = nullptr;
  QPushButton* exit_ = nullptr;
  QLineEdit* port_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* addressLabel_ = nullptr;
  QLabel* portLabel_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* model_ = nullptr;
  QLabel* version_ = nullptr;
  QLabel* caution_ = nullptr;
  QLineEdit* address_ = nullptr;
  int baseX_ = 0;
  int baseY_ = 0;
};

// The dialog's font: "ＭＳ Ｐゴシック" 9 pt where it is installed, else Noto Sans CJK JP.
QFont DialogFont();

// Title from the program's version, the initial texts, the address limit; then centres
// and shows the dialog. Returns 0: no control is given the focus on purpose.
int InitMainDialog(MainDialog& dialog);

// Moves a window so that it stands in the middle of its screen, and shows it.
void CentreWindow(QWidget& window);

// The program's icon, drawn for it: 32 x 32.
QIcon ProgramIcon();

}  // namespace ui::qt
