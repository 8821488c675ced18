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

#include "app/drop_run.h"
#include "app/string_pairs.h"
#include "gui/qt/qt_drop.h"
#include "gui/qt/qt_icon.h"
#include "gui/qt/qt_message_box.h"
#include "settings/placement.h"
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

// The main dialog's targets, in list order.
constexpr std::string_view kTargets[] = {"  0 : Copy", "  8 : UTF-8", " 16 : UTF-16", " 74 : ShiftJIS"};

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
      icon_(ProgramIcon()) {
  previous_presenter_ = SetMessagePresenter(this);
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
  exit_->setFlat(true);
  connect(exit_, &QPushButton::clicked, this, &OceloDg::reject);

  targets_ = new QListWidget(this);
  targets_->setObjectName(QStringLiteral("targets"));
  targets_->setGeometry(du.Rect(42, 0, 81, 36));
  targets_->setSelectionMode(QAbstractItemView::SingleSelection);
  targets_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  targets_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  targets_->setFocus();
  setTabOrder(exit_, targets_);

  setFixedSize(du.X(123), du.Y(36));
  InitDialog(update_check);
}

OceloDg::~OceloDg() { SetMessagePresenter(previous_presenter_); }

void OceloDg::InitDialog(UpdateCheck update_check) {
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
  for (std::string_view target : kTargets) targets_->addItem(Q(Localize(target)));
  targets_->setUpdatesEnabled(true);
  targets_->clearSelection();
  targets_->setCurrentRow(-1, QItemSelectionModel::NoUpdate);

  // The update check's user-agent text tells the display scale.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    set_display_dpi(static_cast<int>(screen->logicalDotsPerInch() + 0.5));
  }
  if (update_check != nullptr) update_check();

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
    move(fitted.left, fitted.top);
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

void OceloDg::keyPressEvent(QKeyEvent* event) {
  // Enter is the hidden default button's (a focused button takes it before it gets here); the dialog's
  // own handling would look for a visible default button only.
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    ok_->click();
    return;
  }
  QDialog::keyPressEvent(event);
}

void OceloDg::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  menu.addAction(Q(kVersionItem), this, &OceloDg::ShowAboutDialog);
  menu.exec(event->globalPos());
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
