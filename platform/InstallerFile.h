// The downloaded installer on disk. From the moment it is created until the installer process has
// been started, other processes may read the file but neither write, rename nor delete it, so what
// runs elevated is what was downloaded. The bytes are hashed as they are written, when asked for.
#pragma once

#include <boost/filesystem/path.hpp>
#include <memory>
#include <ostream>

#include "platform/Sha512.h"

namespace brimo {

class InstallerFile {
 public:
  // Creates (or truncates) the file for writing; with hashContent, every byte written is hashed.
  // Hashing costs more than writing (under Wine several times more), so only a download whose
  // digest will be checked asks for it.
  explicit InstallerFile(const boost::filesystem::path& path, bool hashContent = true);
  ~InstallerFile();
  InstallerFile(const InstallerFile&) = delete;
  InstallerFile& operator=(const InstallerFile&) = delete;

  // The sink for the download; it fails (and takes no more) once a write fails.
  std::ostream& Stream();

  // Ends writing and keeps holding the file, now read-only. False when the file could not be
  // created or written whole, or when it was touched by anyone else in between.
  bool FinishWriting();

  // The SHA-512 of every byte written; valid after FinishWriting, when hashing.
  const Sha512Digest& Digest() const;

  // The file's path, and the handle that holds it once writing has finished (null before, and
  // after Release): what a check of the file that will run must read.
  const boost::filesystem::path& Path() const;
  void* NativeHandle() const;

  // Lets go of the file: once the installer process exists, it may do with its file as it likes.
  void Release();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace brimo
