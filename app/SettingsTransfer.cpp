#include "app/SettingsTransfer.h"

#include "app/KFile.h"
#include "app/Output.h"
#include "app/ProgramDirectory.h"
#include "app/ReplacementFile.h"
#include "app/SettingsLock.h"
#include "platform/Platform.h"
#include "settings/VolumeSettings.h"
#include "volume/ZOLTVolume.h"

using namespace platform;

namespace {

constexpr char16_t kGetFailed[] = u"Get volume settings fail!\n";
constexpr char16_t kCreateFailed[] = u"Create exported volume settings %s file fail!\n";
constexpr char16_t kWriteFailed[] = u"Write exported volume settings to %s file fail!\n";
constexpr char16_t kCloseFailed[] = u"Close exported volume settings %s file fail!\n";
constexpr char16_t kExported[] = u"Export volume settings to %s file success!\n";
constexpr char16_t kOpenFailed[] = u"Open imported volume settings %s file fail!\n";
constexpr char16_t kReadFailed[] = u"Read imported volume settings %s fail!\n";
constexpr char16_t kSetFailed[] = u"Import volume settings %s fail!\n";
constexpr char16_t kImported[] = u"Import volume settings from %s file success!\n";

// Always the directory, one backslash and the name as typed: nothing is checked or normalised.
// Empty when the program's directory cannot be had: a path from the root of the current drive
// would put the file where nobody looks for it.
std::u16string SettingsFilePath(const std::u16string& file) {
  const std::u16string directory = GetProgramDirectory();
  return directory.empty() ? std::u16string() : directory + u'\\' + file;
}

int Report(const char16_t* message, const std::u16string& file, int exitCode) {
  Print(message, file);
  return exitCode;
}

// Reads the head and exactly the list data that it announces. Fails with the exit code of the
// step that failed: 2 for the head, 3 for the list.
int ReadSettingsFile(KFile& file, VolumeSettings& settings) {
  SettingsHead head{};
  if (!file.ReadExactly(head.data(), kSettingsHeadSize)) return 2;
  DecodeSettingsHead(head, settings);

  // No export writes a longer list, and the store would write any length into the registry,
  // after which no export of the volume could read it.
  const std::uint32_t size = settings.ExclusionListSize;
  if (size > kMaxExclusionListSize) return 3;
  // The head's size is only a claim: memory is taken for no more list than the file holds.
  std::uint64_t fileSize = 0;
  if (file.GetSize(&fileSize) != kErrorSuccess || fileSize < kSettingsHeadSize ||
      fileSize - kSettingsHeadSize < size) {
    return 3;
  }
  settings.ExclusionList = NewListBuffer(size);
  if (!settings.ExclusionList || !file.ReadExactly(settings.ExclusionList.get(), size)) return 3;
  return 0;
}

}  // namespace

int ExportVolumeSettings(std::u16string volume, std::u16string file) {
  const ZOLTVolume store(volume);
  VolumeSettings settings;
  // Held until the new file is in place or the export has failed (the replacement, declared
  // later, is gone first): of two exports to one file, the later read is the one that stays.
  SettingsLock lock;
  if (!lock.Acquire() || !store.GetSettings(settings)) {
    Print(kGetFailed);
    return 1;
  }

  // The file is written beside its place and takes it only when complete: a failed export keeps
  // the previous file as it was.
  const std::u16string path = SettingsFilePath(file);
  if (path.empty()) return Report(kCreateFailed, file, 2);
  ReplacementFile output(path);
  if (output.Create() != kErrorSuccess) return Report(kCreateFailed, file, 2);
  const SettingsHead head = EncodeSettingsHead(settings);
  if (!output.WriteExactly(head.data(), kSettingsHeadSize)) return Report(kWriteFailed, file, 3);
  if (!output.WriteExactly(settings.ExclusionList.get(), settings.ExclusionListSize)) {
    return Report(kWriteFailed, file, 4);
  }
  if (output.Commit() != kErrorSuccess) return Report(kCloseFailed, file, 5);
  return Report(kExported, file, 0);
}

int ImportVolumeSettings(std::u16string volume, std::u16string file) {
  VolumeSettings settings;
  {
    const std::u16string path = SettingsFilePath(file);
    KFile input;
    if (path.empty() ||
        input.Open(path, kGenericRead, kFileShareRead, kOpenExisting) != kErrorSuccess) {
      return Report(kOpenFailed, file, 1);
    }
    if (const int failed = ReadSettingsFile(input, settings)) {
      return Report(kReadFailed, file, failed);
    }
  }

  // The file was read and closed first: the lock is held for the registry alone.
  const ZOLTVolume store(volume);
  SettingsLock lock;
  if (!lock.Acquire() || !store.SetSettings(settings)) return Report(kSetFailed, file, 4);
  return Report(kImported, file, 0);
}
