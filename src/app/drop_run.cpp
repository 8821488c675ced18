// The drop run: the loop over the dropped paths with its three reports, and its process-wide state.
#include "app/drop_run.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <set>

#include "app/string_pairs.h"
#include "base/paths.h"
#include "encoding/convert.h"
#include "platform/fs.h"
#include "util/file_list.h"
#include "util/file_status.h"
#include "util/folders.h"
#include "util/message.h"
#include "web/family_folders.h"
#include "web/shell_command.h"

namespace ocelo {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

// What the process leaves to its end: the copies written into today's work folder, deleted, and that
// folder itself, removed once it is empty.
struct ExitWork {
  TempFileList copies;
  std::u16string day_folder;
  ~ExitWork() { Finish(); }
  void Finish() {
    copies.RemoveAll();
    if (!day_folder.empty()) RemoveEmptyDayFolder(day_folder);
  }
};

ExitWork& AtExit() {
  static ExitWork work;
  return work;
}

TempFileList& RegisteredCopies() { return AtExit().copies; }

}  // namespace

EncodingKind GetSelectedTarget(std::u16string_view text) {
  if (text.empty()) return -1;
  // As `wcstol` with a 32-bit long: blanks, a sign, decimal digits; out of range saturates.
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = value * 10 + (text[i] - u'0');
    if (value > std::int64_t{1} << 31) value = std::int64_t{1} << 31;
  }
  if (negative) value = -value;
  value = std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                   std::numeric_limits<std::int32_t>::max());
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(value & 0xFFFF));
}

bool ShowFolderWindow(std::u16string_view folder) {
  ShellCommand command;
  command.set_file(u"explorer.exe");
  command.set_parameters(folder);
  return command.execute();
}

// The copy is removed at exit only while it is still the file written here: another dialog may have
// written its own copy of the same name into today's work folder since.
void RegisterTempFile(std::u16string_view path) { RegisteredCopies().AddOwned(path); }

void DropRun::Report(const char* head, std::u16string_view name) {
  ShowMessage(Localize(head) + std::u16string(name) + u"\r\n", 0, 0);
}

void DropRun::OnDropFiles(const std::vector<std::u16string>& paths, std::u16string_view selected_text) {
  if (!initialised_) {
    output_folder_ = TodayFolder();
    AtExit().day_folder = output_folder_;
    initialised_ = true;
  }
  // Copies are registered for deletion only while they go to today's work folder.
  const bool default_folder = TodayFolder() == output_folder_;
  const EncodingKind target = GetSelectedTarget(selected_text);
  // The copies this drop has made, by file: a later dropped file of the same name is not written over one.
  std::set<sys::FileId> written;
  const std::u16string here = CurrentFolder();
  ConversionBatch batch;  // the copies of this drop are made durable together, before the folder shows
  std::vector<std::u16string> made;

  for (const std::u16string& dropped : paths) {
    // Absolute and normalised before any rule looks at it, so every spelling of a path is one path.
    const std::u16string path = AbsolutePath(dropped, here);
    const std::u16string name = FileName(path);
    const std::u16string dest = CopyPath(output_folder_, path);
    if (FileStatus(path).IsFolder()) {
      output_folder_ = path;
      break;
    }
    sys::FileId id;
    if (sys::GetFileId(dest, id) == 0 && written.count(id) != 0) {
      // The dialog has no head of its own for this; the copy this file would make is not saved, so it is
      // reported as one that could not be saved, and the earlier copy stays.
      Report("Unable to save.\r\n", name);
      break;
    }
    const FileResult result = ConvertOne(target, path, output_folder_);
    if (result == FileResult::kNotText) {
      Report("Not a text file.\r\n", name);
      break;
    }
    if (result == FileResult::kSamePath) {
      Report("same ", name);
      break;
    }
    if (!Succeeded(result)) {
      // Also a copy whose existing version could not be backed up: it is not saved.
      Report("Unable to save.\r\n", name);
      break;
    }
    if (sys::GetFileId(dest, id) == 0) written.insert(id);
    if (default_folder) made.push_back(dest);
  }
  batch.Finish();
  for (const std::u16string& copy : made) RegisterTempFile(copy);  // once in place, with their final status

  if (drop_count_ == 0) {
    drop_count_ = 1;
    ShowFolderWindow(output_folder_);
  } else {
    ++drop_count_;
  }
}

void FinishDropRuns() { AtExit().Finish(); }

DropRun& ProcessDropRun() {
  static DropRun run;
  return run;
}

}  // namespace ocelo
