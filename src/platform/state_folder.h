// Where the program keeps files that must outlive a run (the XPort records it changed, the
// history of runs), the file operations on them, and the writing of reports to a path the
// operator names.
//
// Every operation that takes a std::error_code* why fills it (when not null) with the
// system's reason on failure and leaves it alone on success; ErrorText makes it readable.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <system_error>

namespace platform {

// $XDG_STATE_HOME/DERURUZUD, else ~/.local/state/DERURUZUD (the folder may not exist
// yet). Empty when neither can be found.
std::filesystem::path StateFolder();

// Writes bytes to path through a temporary file and a rename, so that the file is either
// whole or absent, and durable when this returns true: the file's data is flushed to the
// disk before the rename and the folder after it (and every folder it had to create on
// the way, after their creation). False on any failure: the temporary file is removed (a
// disk that fills up mid-write leaves nothing behind) and path holds its old content or,
// when only the last flush of the folder failed, the new content whole.
bool WriteFileAtomically(const std::filesystem::path& path, const void* data, std::size_t size,
                         std::error_code* why = nullptr);
// The same, but never replaces: false (and nothing written, why = file exists) when path
// already exists, so two writers that picked the same name cannot overwrite each other.
// On any false return nothing of this call is left at path.
bool CreateFileAtomically(const std::filesystem::path& path, const void* data, std::size_t size,
                          std::error_code* why = nullptr);

// Appends line and a line end to a text file (created with its folders when missing) in
// one write, and flushes it to the disk. A last line left without its end (a crash while
// it was written) is ended first, so a broken line never swallows the next one. False on
// any failure.
bool AppendLine(const std::filesystem::path& path, const std::string& line,
                std::error_code* why = nullptr);

enum class ReadStatus {
  Ok,       // *out holds the whole file
  Missing,  // nothing exists at path (nor, possibly, at a folder on the way)
  Failed,   // something is there but cannot be read: a folder, no permission, an I/O error
};
// Reads a whole file. *out is untouched unless the result is Ok. A FIFO is read until its
// writer closes it.
ReadStatus ReadFile(const std::filesystem::path& path, std::string* out,
                    std::error_code* why = nullptr);
// ReadFile's Ok as true, anything else as false.
bool ReadWholeFile(const std::filesystem::path& path, std::string* out);

// A short reason in lower-case English for the common failures of the operations above
// ("permission denied", "read-only file system", "no space left on device", "not a
// directory", "no such file or directory", "is a directory", "file exists"), the system's
// own message for any other.
std::string ErrorText(const std::error_code& why);

// What a report written to a path the operator named would do there. The report must
// never replace what it is meant to be written into (a device, a FIFO, a link), and a
// FIFO's reader must get the one real report, so the path is examined without opening it.
enum class ReportTarget {
  NewFile,      // nothing there, and its folder can be written: a new file is made
  RegularFile,  // a regular file whose folder can be written: replaced whole by a rename
  Direct,       // written into in place: a device (/dev/null, NUL, CON), a FIFO, the file a
                // link points to, or a regular file in a folder that cannot be written
  Refused,      // cannot be written: a folder, a missing folder, no permission; why says so
};
// Examines path as above without opening it (POSIX: lstat and access; Windows: the file's
// attributes and a probe file in its folder). why is filled only for Refused.
ReportTarget CheckReportTarget(const std::filesystem::path& path, std::error_code* why);

// Writes a report to path as CheckReportTarget (run again here) finds it: NewFile and
// RegularFile through a temporary file in the same folder, flushed, renamed over path (the
// replaced file's permissions kept) and the folder flushed; Direct by opening what stands
// there for writing (never creating: a link whose target vanished fails), truncating a
// regular file, and writing all of data (a device that takes only part, such as /dev/full,
// fails). Opening a FIFO waits for its reader; a FIFO whose reader went away fails with
// EPIPE once SIGPIPE is ignored (InstallInterruptHandler does that). True when all of data
// was written. On failure no older report looks current: a regular file that was to be
// replaced by the rename is removed (when it is still the one that stood there), and a
// regular file written into directly (through a link, or in a folder that cannot be
// written) is emptied.
bool WriteReport(const std::filesystem::path& path, const std::string& data, std::error_code* why);

}  // namespace platform
