// Whole files written so that a reader (or a crash) never meets half of one,
// and folders made with the mode asked for. Every file of the system that
// is replaced as a whole goes through WriteFileAtomically: the registry
// hive, the unit file, the record of the last run, the export's control
// file, the LDIF group directory, the vCard store.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace corvane::files {

// How WriteFileAtomically writes. The defaults suit a private file of the
// Corvane home: mode 0600, flushed to disk with its folder, the temporary
// file named "<name>.tmp.<pid>".
struct AtomicWrite {
  // The new file's mode, set whatever the umask.
  mode_t mode = 0600;
  // An existing file keeps its mode; `mode` is then for a new file only.
  bool keepMode = false;
  // When root writes: an existing file keeps its owner and group, a new one
  // gets the folder's (the home's owner, whose service must read it).
  bool keepOwner = false;
  // A `file` that is a symbolic link stays one: the file it names (through
  // every hop) is replaced.
  bool throughSymlink = false;
  // The temporary file beside the target: "<name><tag><pid>", or with
  // randomTemporary "<name><tag><8 random hex digits>" (made anew when the
  // name is taken); with hiddenTemporary it starts with ".", so readers of
  // the folder that skip dot files never see it. A leftover of a killed
  // writer can be told by this name.
  std::string temporaryTag = ".tmp.";
  bool randomTemporary = false;
  bool hiddenTemporary = false;
  // fsync of the file before the rename, and of the folder after it, so
  // the new file survives a power cut. Folders of many small files that a
  // rerun rewrites (the vCard store) go without.
  bool syncFile = true;
  bool syncFolder = true;
};

// The file a write of `file` replaces when symbolic links are followed:
// `file` itself unless it is a link, else the end of its chain of links.
// Throws std::system_error when a link cannot be read or the chain loops.
std::filesystem::path LinkTarget(const std::filesystem::path& file);

// Writes `text` to `file` through a temporary file in the same folder
// (see AtomicWrite), so the file is either the old one or the complete new
// one. Throws std::system_error whose text names the file and what failed
// ("cannot write <file>: No space left on device"); the temporary file is
// removed then.
void WriteFileAtomically(const std::filesystem::path& file, std::string_view text, const AtomicWrite& how = {});

// Makes `folder` and its missing parents with `mode`, set whatever the
// umask; folders that exist keep their mode. Throws std::system_error
// naming the folder that could not be made.
void MakeFolders(const std::filesystem::path& folder, mode_t mode);

// Creates `file` empty with `mode` when it does not exist, and gives an
// existing one `mode`, whatever the umask: for files that a stream or
// another program then opens and fills (a log, a list, a database).
// False (errno set) when it cannot be created or its mode set.
bool EnsureFileMode(const std::filesystem::path& file, mode_t mode);

}  // namespace corvane::files
