// The main dialog: the exit button and the list of targets, the drop target, the version dialog, the
// remembered position, and the main window that the message service shows its boxes on.
#pragma once

#include <QDialog>
#include <QIcon>
#include <string>
#include <vector>

#include "app/update_check_run.h"
#include "gui/qt/qt_placement.h"
#include "settings/profile.h"
#include "util/message.h"
#include "web/update_check.h"

class QListWidget;
class QPushButton;

namespace ocelo {

class CloseOnSignals;

/// The main dialog. While it exists it is the calling thread's main window for message boxes.
/// Escape, the exit button and the close box save its position ("Position_OceloDg_CDialog") and close it
/// (rejected); Enter closes it without saving (accepted). SIGTERM, SIGINT and SIGHUP close it as the close
/// box does.
class OceloDg : public QDialog, public MessagePresenter {
  Q_OBJECT

 public:
  using UpdateCheck = UpdateCheckRun::Check;

  /// Builds the dialog and prepares it for showing: localised texts, the four targets with none selected
  /// (none current either), the stored position, on top of other windows. The update check starts on a
  /// thread of its own once the dialog is first shown; it opens the browser itself when that is due.
  explicit OceloDg(UpdateCheck update_check = &check_update);
  ~OceloDg() override;

  /// Whether this dialog's update check has started and not yet ended.
  bool UpdateCheckRunning() const { return update_run_.Running(); }
  /// The settings cache's flush signal while a dialog exists: a short system beep, on a thread that has
  /// a main window only.
  static void SignalFlush();

  /// The position key: the title of this unit's source file.
  static constexpr std::u16string_view kPositionKey = u"OceloDg";
  /// The version item of the context menu.
  static constexpr std::u16string_view kVersionItem = u"ﾊﾞｰｼﾞｮﾝ情報(&A)...";

  /// Runs one drop: the paths and the text of the entry selected at the moment of the drop.
  void DropFiles(const std::vector<std::u16string>& paths, const std::u16string& selected_text);
  /// The selected target's text; empty when none is selected.
  std::u16string SelectedText() const;
  /// Runs the version dialog modally.
  void ShowAboutDialog();
  /// The context menu (the version item) at a point on the screen.
  void ShowContextMenu(const QPoint& global_pos);

  /// MessagePresenter: a QMessageBox owned by the dialog.
  int Show(std::u16string_view text, unsigned type, int help_context) override;
  /// MessagePresenter: the task queued on the dialog's thread; dropped if the dialog goes first.
  bool Post(std::function<void()> task) override;

 public slots:
  /// Saves the position, then closes the dialog.
  void reject() override;

 signals:
  /// The update check has ended (emitted on the dialog's thread).
  void UpdateCheckFinished();

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void InitDialog();
  void EndUpdateCheck();

  Profile profile_;
  QtDisplays displays_;
  QtPlacementWindow placement_window_;
  QIcon icon_;
  QPushButton* ok_ = nullptr;
  QPushButton* exit_ = nullptr;
  QListWidget* targets_ = nullptr;
  MessagePresenter* previous_presenter_ = nullptr;
  void (*previous_flush_signal_)() = nullptr;
  CloseOnSignals* close_signals_ = nullptr;
  UpdateCheckRun update_run_;
};

/// The version dialog: the program icon, its description and version, its copyright, and an OK button.
class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent, const QIcon& icon);
};

/// Pixel sizes of dialog units in a font: a quarter of the average character width across, an eighth
/// of the character height down.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  int X(int units) const { return (units * base_x_ + 2) / 4; }
  int Y(int units) const { return (units * base_y_ + 4) / 8; }
  QRect Rect(int x, int y, int w, int h) const { return QRect(X(x), Y(y), X(w), Y(h)); }

 private:
  int base_x_ = 8;
  int base_y_ = 16;
};

}  // namespace ocelo
