// The main dialog and the version dialog. The dialog holds no logic of its own: drops go to the drop
// run, texts through the string pair table, the position through the window placement.
#include "gui/qt/OceloDg.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

#include "app/drop_run.h"
#include "app/string_pairs.h"
#include "gui/qt/qt_close_signals.h"
#include "gui/qt/qt_drop.h"
#include "gui/qt/qt_icon.h"
#include "gui/qt/qt_message_box.h"
#include "settings/placement.h"
#include "settings/profile_cache.h"
#include "version/version_info.h"
#include "web/u_agent.h"

namespace ocelo {
namespace {

QString Q(std::u16string_view text) { return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())); }

std::u16string U(const QString& text) { return text.toStdU16String(); }

// The dialogs' fonts: 9 points of IPA's gothic faces (fixed pitch for the main dialog, proportional for
// the version dialog), from fonts-ipafont-gothic; the system's choice where they are missing.
QFont DialogFont(bool proportional) {
  QFont font;
  font.setFamilies(proportional ? QStringList{QStringLiteral("IPAPGothic"), QStringLiteral("IPA Pゴシック")}
                                : QStringList{QStringLiteral("IPAGothic"), QStringLiteral("IPAゴシック")});
  font.setStyleHint(proportional ? QFont::SansSerif : QFont::Monospace);
  font.setPointSize(9);
  return font;
}

// The main dialog's targets, in list order, each with its tooltip. The accessible names and tooltips
// are Japanese as written: the string pair table holds the dialog's own texts only.
struct Target {
  std::string_view text;
  std::u16string_view tip;
};
constexpr Target kTargets[] = {
    {"  0 : Copy", u"そのままコピーします"},
    {"  8 : UTF-8", u"UTF-8 で保存します"},
    {" 16 : UTF-16", u"BOM 付きの UTF-16 で保存します"},
    {" 74 : ShiftJIS", u"Shift_JIS で保存します"},
};
constexpr std::u16string_view kExitName = u"終了";
constexpr std::u16string_view kExitTip = u"位置を記憶して閉じます";
constexpr std::u16string_view kListName = u"変換先の文字コード";
constexpr std::u16string_view kListTip = u"変換先を選んでから、ファイルをここへドロップします";

// What a window manager puts beside the caption in the title bar: the icon, the minimise, maximise and
// close buttons (openbox shows all three, even on a window of fixed size) and their margins.
constexpr int kTitleBarExtras = 112;

// The target list. Qt makes the first entry current when a list without a current entry gets the focus,
// and paints it as if it were chosen; here nothing is current until the user picks a target.
class TargetList : public QListWidget {
 public:
  using QListWidget::QListWidget;

 protected:
  void focusInEvent(QFocusEvent* event) override {
    const bool none = !currentIndex().isValid();
    QListWidget::focusInEvent(event);
    if (none && selectedItems().isEmpty())
      selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
  }
};

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int width = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  base_x_ = std::max(1, (width / 26 + 1) / 2);
  base_y_ = std::max(1, metrics.height());
}

OceloDg::OceloDg(UpdateCheck update_check)
    : QDialog(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      profile_(u""),
      placement_window_(this, std::u16string(kDialogClassName)),
      icon_(ProgramIcon()),
      update_run_(update_check) {
  previous_presenter_ = SetMessagePresenter(this);
  previous_flush_signal_ = profile_cache::FlushSignal();
  profile_cache::SetFlushSignal(&OceloDg::SignalFlush);
  close_signals_ = new CloseOnSignals(this);
  connect(close_signals_, &CloseOnSignals::Received, this, &OceloDg::reject);
  setFont(DialogFont(false));
  setWindowTitle(QStringLiteral("Ocelo"));
  setAcceptDrops(true);
  const DialogUnits du(font());

  // In tab order: the hidden default button, the exit button, the target list.
  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setObjectName(QStringLiteral("ok"));
  ok_->setGeometry(du.Rect(44, 7, 20, 14));
  ok_->setDefault(true);
  ok_->hide();
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);

  exit_ = new QPushButton(QStringLiteral("E&xit"), this);
  exit_->setObjectName(QStringLiteral("exit"));
  exit_->setGeometry(du.Rect(0, 0, 41, 36));
  exit_->setAutoDefault(false);
  exit_->setAccessibleName(Q(kExitName));
  exit_->setToolTip(Q(kExitTip));
  connect(exit_, &QPushButton::clicked, this, &OceloDg::reject);

  targets_ = new TargetList(this);
  targets_->setObjectName(QStringLiteral("targets"));
  targets_->setGeometry(du.Rect(42, 0, 81, 36));
  targets_->setSelectionMode(QAbstractItemView::SingleSelection);
  targets_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  targets_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  targets_->setAccessibleName(Q(kListName));
  targets_->setToolTip(Q(kListTip));
  targets_->setFocus();
  setTabOrder(exit_, targets_);

  setFixedSize(du.X(123), du.Y(36));
  InitDialog();
}

OceloDg::~OceloDg() {
  update_run_.Detach();  // a check still waiting for the network is left to end alone
  profile_cache::SetFlushSignal(previous_flush_signal_);
  SetMessagePresenter(previous_presenter_);
}

void OceloDg::SignalFlush() {
  // The update check's thread has no main window, and a beep belongs to the dialog's thread.
  if (CurrentMessagePresenter() != nullptr) QApplication::beep();
}

void OceloDg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The check's end comes back to the dialog's thread as a queued call.
  if (!event->spontaneous()) {
    update_run_.Start([this] {
      QMetaObject::invokeMethod(
          this, [this] { EndUpdateCheck(); }, Qt::QueuedConnection);
    });
  }
}

void OceloDg::EndUpdateCheck() {
  update_run_.Join();
  emit UpdateCheckFinished();
}

void OceloDg::InitDialog() {
  setWindowIcon(icon_);

  // The caption is always set; a control's text only when its Japanese form differs.
  setWindowTitle(Q(Localize(NarrowText(U(windowTitle())))));
  for (QPushButton* button : {ok_, exit_}) {
    const std::u16string text = U(button->text());
    if (text.empty()) continue;
    const std::u16string localized = Localize(NarrowText(text));
    if (localized != text) button->setText(Q(localized));
  }

  // The list shows the targets in the order given, none selected; it scrolls sideways when a font makes
  // an entry wider than the list.
  targets_->setUpdatesEnabled(false);
  targets_->clear();
  for (const Target& target : kTargets) {
    auto* item = new QListWidgetItem(Q(Localize(target.text)), targets_);
    item->setToolTip(Q(target.tip));
  }
  targets_->setUpdatesEnabled(true);
  targets_->clearSelection();
  targets_->setCurrentRow(-1, QItemSelectionModel::NoUpdate);

  // The update check's user-agent text tells the display scale.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    set_display_dpi(static_cast<int>(screen->logicalDotsPerInch() + 0.5));
  }

  // The caption fits in the title bar: the dialog grows as far as it needs to, the list with it.
  QFont title_font = QApplication::font();
  title_font.setBold(true);  // as title bars draw it
  const int caption = QFontMetrics(title_font).horizontalAdvance(windowTitle()) + kTitleBarExtras;
  if (caption > width()) {
    targets_->resize(targets_->width() + caption - width(), targets_->height());
    setFixedSize(caption, height());
  }

  // The window exists from here on, so that its position can be set before it is shown. Without a stored
  // position it sits in the bottom-right corner of the primary screen's work area: the dialog's own
  // position (1920, 1080 dialog units) lies beyond most screens, and a window off the screen cannot be
  // reached. Room is left for the frame the window manager adds.
  winId();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const DialogUnits du(font());
    constexpr int kFrameAllowance = 40;
    const QRect wanted(du.X(1920), du.Y(1080), width() + kFrameAllowance, height() + kFrameAllowance);
    const Rect fitted = FitRectInto(ToRect(wanted), ToRect(screen->availableGeometry()));
    // The client area's place, as the stored position is: move() would place the frame there, and the
    // window manager would then set the client area a title bar lower than the position saved from it.
    setGeometry(QRect(QPoint(fitted.left, fitted.top), size()));
  }
  RestoreDialogPosition(profile_, displays_, &placement_window_, kPositionKey);
}

void OceloDg::reject() {
  SaveDialogPosition(profile_, displays_, &placement_window_, kPositionKey);
  QDialog::reject();
}

std::u16string OceloDg::SelectedText() const {
  const QList<QListWidgetItem*> selected = targets_->selectedItems();
  return selected.isEmpty() ? std::u16string() : U(selected.front()->text());
}

void OceloDg::DropFiles(const std::vector<std::u16string>& paths, const std::u16string& selected_text) {
  ProcessDropRun().OnDropFiles(paths, selected_text);
}

void OceloDg::ShowAboutDialog() {
  AboutDialog about(this, icon_);
  about.exec();
}

int OceloDg::Show(std::u16string_view text, unsigned type, int help_context) {
  return ShowMessageBox(this, text, type);
}

bool OceloDg::Post(std::function<void()> task) {
  return QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

void OceloDg::keyPressEvent(QKeyEvent* event) {
  // The keyboard's ways to the context menu: the Menu key and Shift+F10, shown at the focused control.
  const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
  if ((event->key() == Qt::Key_Menu && modifiers == Qt::NoModifier) ||
      (event->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier)) {
    const QWidget* at = focusWidget() != nullptr ? focusWidget() : this;
    ShowContextMenu(at->mapToGlobal(at->rect().center()));
    return;
  }
  // Enter is the hidden default button's (a focused button takes it before it gets here); the dialog's
  // own handling would look for a visible default button only.
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    ok_->click();
    return;
  }
  QDialog::keyPressEvent(event);
}

void OceloDg::contextMenuEvent(QContextMenuEvent* event) { ShowContextMenu(event->globalPos()); }

void OceloDg::ShowContextMenu(const QPoint& global_pos) {
  QMenu menu(this);
  menu.addAction(Q(kVersionItem), this, &OceloDg::ShowAboutDialog);
  menu.exec(global_pos);
}

void OceloDg::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void OceloDg::dragMoveEvent(QDragMoveEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void OceloDg::dropEvent(QDropEvent* event) {
  std::vector<std::u16string> paths = DroppedPaths(*event->mimeData());
  if (paths.empty()) return;
  event->acceptProposedAction();
  // The run (with its message boxes and the file-manager window) starts once the drag has ended, so the
  // application the files came from is not kept waiting for it.
  QMetaObject::invokeMethod(
      this, [this, paths = std::move(paths), selected = SelectedText()] { DropFiles(paths, selected); },
      Qt::QueuedConnection);
}

AboutDialog::AboutDialog(QWidget* parent, const QIcon& icon)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint) {
  setFont(DialogFont(true));
  setWindowTitle(QString::fromUtf16(u"ﾊﾞｰｼﾞｮﾝ情報"));
  setWindowIcon(icon);
  const DialogUnits du(font());

  auto* picture = new QLabel(this);
  picture->setGeometry(du.Rect(7, 13, 18, 21));
  const int side = std::min(picture->width(), picture->height());
  picture->setPixmap(icon.pixmap(side, side));
  picture->setAlignment(Qt::AlignCenter);

  auto* description = new QLabel(this);
  description->setObjectName(QStringLiteral("description"));
  description->setGeometry(du.Rect(40, 10, 161, 8));
  auto* copyright = new QLabel(this);
  copyright->setObjectName(QStringLiteral("copyright"));
  copyright->setGeometry(du.Rect(40, 25, 161, 8));
  for (QLabel* label : {description, copyright}) {
    label->setAlignment(Qt::AlignCenter);
    label->setTextFormat(Qt::PlainText);
  }

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setGeometry(du.Rect(206, 13, 20, 21));
  ok->setDefault(true);
  ok->setFocus();
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  if (const std::optional<AboutBoxTexts> texts = about_box_texts()) {
    description->setText(Q(texts->description));
    copyright->setText(Q(texts->copyright));
  }
  setFixedSize(du.X(235), du.Y(45));
}

}  // namespace ocelo
