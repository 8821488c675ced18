// The drop run: files and folders dropped on the main dialog, converted into the output folder, the
// first problem reported, and the output folder shown after the first drop.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "encoding/kinds.h"

namespace ocelo {

/// The target kind of a list entry's text: its leading decimal number (blanks skipped, as `wcstol`
/// reads it) cut to 16 bits; -1 when nothing is selected (empty text).
///   "  8 : UTF-8" => 8      " 74 : ShiftJIS" => 74      "" => -1      "Copy" => 0
EncodingKind GetSelectedTarget(std::u16string_view selected_text);

/// Opens the file manager on a folder ("explorer.exe" with the folder, through ShellCommand).
bool ShowFolderWindow(std::u16string_view folder);

/// Registers a copy for deletion when the process ends, as long as it is still the file written now.
void RegisterTempFile(std::u16string_view path);

/// The state of the drop runs of one process: the output folder, the drop counter.
class DropRun {
 public:
  /// Runs one drop: the dropped paths in drop order and the selected list entry's text.
  void OnDropFiles(const std::vector<std::u16string>& paths, std::u16string_view selected_text);

  /// The output folder; empty before the first drop.
  const std::u16string& OutputFolder() const { return output_folder_; }
  int DropCount() const { return drop_count_; }

 private:
  void Report(const char* head, std::u16string_view name);

  std::u16string output_folder_;
  bool initialised_ = false;
  int drop_count_ = 0;
};

/// The process's drop run, created on first use.
DropRun& ProcessDropRun();

/// The drop runs' end, which the process's exit also does: the registered copies deleted, today's work
/// folder removed when that leaves it empty. Doing it twice does nothing more.
void FinishDropRuns();

}  // namespace ocelo
