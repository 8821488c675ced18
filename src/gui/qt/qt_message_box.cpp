// A message box of the message service shown with QMessageBox.
#include "gui/qt/qt_message_box.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>
#include <vector>

#include "app/string_pairs.h"
#include "util/message.h"

namespace ocelo {
namespace {

struct ButtonSpec {
  QMessageBox::StandardButton button;
  int answer;
};

// The buttons of each button group, in the order the box shows them.
std::vector<ButtonSpec> Buttons(unsigned group) {
  using B = QMessageBox;
  switch (group) {
    case mb::kOkCancel: return {{B::Ok, answer::kOk}, {B::Cancel, answer::kCancel}};
    case mb::kAbortRetryIgnore:
      return {{B::Abort, answer::kAbort}, {B::Retry, answer::kRetry}, {B::Ignore, answer::kIgnore}};
    case mb::kYesNoCancel: return {{B::Yes, answer::kYes}, {B::No, answer::kNo}, {B::Cancel, answer::kCancel}};
    case mb::kYesNo: return {{B::Yes, answer::kYes}, {B::No, answer::kNo}};
    case mb::kRetryCancel: return {{B::Retry, answer::kRetry}, {B::Cancel, answer::kCancel}};
    default: return {{B::Ok, answer::kOk}};
  }
}

QMessageBox::Icon Icon(unsigned type) {
  switch (type & 0xF0) {
    case mb::kIconStop: return QMessageBox::Critical;
    case mb::kIconQuestion: return QMessageBox::Question;
    case mb::kIconExclamation: return QMessageBox::Warning;
    case mb::kIconInformation: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

}  // namespace

int ShowMessageBox(QWidget* owner, std::u16string_view text, unsigned type) {
  QMessageBox box(owner);
  // The program's caption, which its main window shows; a box too narrow for it would show only "...".
  QString title = owner != nullptr ? owner->window()->windowTitle() : QString();
  if (title.isEmpty()) {
    const std::u16string caption = Localize("Ocelo");
    title = QString::fromUtf16(caption.data(), static_cast<qsizetype>(caption.size()));
  }
  box.setWindowTitle(title);
  box.setText(QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())));
  box.setIcon(Icon(type));
  if (owner != nullptr && (owner->windowFlags() & Qt::WindowStaysOnTopHint)) {
    // A box under its topmost owner would be hidden behind it.
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
  }
  const std::vector<ButtonSpec> specs = Buttons(type & 0x0F);
  std::vector<QAbstractButton*> buttons;
  for (const ButtonSpec& spec : specs) buttons.push_back(box.addButton(spec.button));
  const std::size_t default_index = (type & 0xF00) >> 8;
  if (default_index < buttons.size()) {
    box.setDefaultButton(static_cast<QPushButton*>(buttons[default_index]));
  }
  // Room for the caption: a row as wide as the title bar needs it, bold as title bars draw it, beside the
  // icon and the minimise, maximise and close buttons (openbox shows all three). Added last, since setting
  // the icon lays the box out anew.
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    constexpr int kTitleBarExtras = 112;
    QFont title_font = QApplication::font();
    title_font.setBold(true);
    const int width = QFontMetrics(title_font).horizontalAdvance(title) + kTitleBarExtras;
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), grid->rowCount(), 0, 1,
                  grid->columnCount());
  }
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    if (buttons[i] == clicked) return specs[i].answer;
  }
  // Closed without a button: the answer Escape gives.
  for (const ButtonSpec& spec : specs) {
    if (spec.answer == answer::kCancel || spec.answer == answer::kNo) return spec.answer;
  }
  return specs.front().answer;
}

}  // namespace ocelo
