// The downloaded installer on disk, in a folder of its own that only administrators can write, made in
// a system temporary folder that the user's processes cannot move or point elsewhere. While
// it is written, other processes may read the file but neither write, rename nor delete it; from the
// end of writing until the installer process has been started, a read-only handle that denies the
// same holds it, and every check (the digest, the signature, the version resource) reads the bytes
// through that handle, so what runs elevated is what was checked.
#pragma once

#include <boost/filesystem/path.hpp>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "trust/Sha512.h"

namespace brimo {

// The folder the installer's own folder is made in: the first of the system's temporary folders that
// this elevated process may add a folder to, opened without following reparse points, checked (see
// ParentFolderRefusal) and held against renaming for the run. A token without Administrators cannot
// write there: it takes the user's temporary folder, as it always has, and says so in the log.
class InstallerParent {
 public:
  // testOwner: the one more owner accepted (empty in every release).
  explicit InstallerParent(const std::wstring& testOwner);
  ~InstallerParent();
  InstallerParent(const InstallerParent&) = delete;
  InstallerParent& operator=(const InstallerParent&) = delete;

  // The folder; nothing when none may be used, and then Failure() says why.
  const std::optional<boost::filesystem::path>& Path() const;
  const std::wstring& Failure() const;
  // The handle that holds it (null for the user's temporary folder).
  void* NativeHandle() const;

 private:
  std::optional<boost::filesystem::path> path_;
  std::wstring failure_;
  void* handle_ = nullptr;
};

class InstallerFile {
 public:
  // Makes the file's folder (path's parent, inside parent when given, by name below its handle) with
  // a descriptor that lets the user's unelevated processes read it and nothing else, holds the folder
  // against renaming, and creates the file in it for writing; what failed of that is MakeError().
  // With hashContent, the held bytes are hashed when writing ends: hashing costs more than writing
  // (under Wine several times more), so only a download whose digest will be checked asks for it.
  explicit InstallerFile(const boost::filesystem::path& path, bool hashContent = true,
                         const InstallerParent* parent = nullptr);
  ~InstallerFile();
  InstallerFile(const InstallerFile&) = delete;
  InstallerFile& operator=(const InstallerFile&) = delete;

  // Nothing when the folder and the file were made, else the system error (as "system:N").
  const std::optional<std::wstring>& MakeError() const;

  // The sink for the download; it fails (and takes no more) once a write fails.
  std::ostream& Stream();

  // Ends writing and holds the file, now read-only, then hashes what it holds when asked to. False
  // when the file could not be created, written whole or held, or was touched by anyone else in the
  // moment between the writer and the holder. unheld, when given, runs in that moment (tests play
  // the other process there).
  bool FinishWriting(const std::function<void()>& unheld = nullptr);

  // The SHA-512 of the held bytes, after FinishWriting when hashing; nothing when it could not be
  // computed.
  const std::optional<Sha512Digest>& Digest() const;

  // The file's path, and the handle that holds it once writing has finished (null before, and after
  // Release): what a check of the file that will run must read.
  const boost::filesystem::path& Path() const;
  void* NativeHandle() const;

  // The held file's size, and count bytes of it from offset; false when they are not all there or
  // the file is not held.
  std::uint64_t Size() const;
  bool ReadAt(std::uint64_t offset, std::size_t count, void* out) const;

  // Lets go of the file: once the installer process exists, it may do with its file as it likes. The
  // folder stays held until Remove.
  void Release();

  // After the installer has run (or was refused): deletes the file through a handle, then marks the
  // folder for deletion, so the system removes it once the last handle to it closes; while a process
  // the installer left behind still has it as its current folder (which denies a deletion mark), it
  // goes at the next start of Windows. A file already gone is no error; any other failure is logged
  // at information level and leaves the folder.
  void Remove();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace brimo
