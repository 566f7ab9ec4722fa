// The downloaded installer on disk, in a folder of its own that only administrators can write. While
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

#include "trust/Sha512.h"

namespace brimo {

class InstallerFile {
 public:
  // Makes the file's folder (path's parent) with a descriptor that lets the user's unelevated
  // processes read it and nothing else, holds the folder against renaming, and creates the file in
  // it for writing. A folder that cannot be made is logged, and the file then fails like one that
  // cannot be created. With hashContent, the held bytes are hashed when writing ends: hashing costs
  // more than writing (under Wine several times more), so only a download whose digest will be
  // checked asks for it.
  explicit InstallerFile(const boost::filesystem::path& path, bool hashContent = true);
  ~InstallerFile();
  InstallerFile(const InstallerFile&) = delete;
  InstallerFile& operator=(const InstallerFile&) = delete;

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

  // Lets go of the file and its folder: once the installer process exists, it may do with its file
  // as it likes.
  void Release();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace brimo
